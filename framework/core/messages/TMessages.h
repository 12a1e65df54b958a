#pragma once
// A form's keyed message list: lines "KEY|text". Code asks for a text by its key, in any
// case; texts are kept exactly as given (line breaks, "%s" placeholders, further bars).
#include <QHash>
#include <QObject>
#include <QStringList>

#include "core/ui/UiServices.h"

#include "core/CoreExport.h"

class FW_CORE_EXPORT TMessages : public QObject {
    Q_OBJECT
    Q_PROPERTY(QStringList Lines READ lines WRITE setLines)
public:
    explicit TMessages(QObject* parent = nullptr);

    QStringList lines() const { return m_lines; }
    // Replaces the list. A line without a bar is kept but names no key; when a key
    // appears twice the first line wins.
    void setLines(const QStringList& lines);
    void addLine(const QString& line);
    void clear();

    bool contains(const QString& key) const;

    // The text of key; an unknown key gives "" (and a warning in the log).
    Q_INVOKABLE QString Msg(const QString& key) const;
    // Shows the text of key through the UI services; returns the button pressed.
    Q_INVOKABLE int ShowMsg(const QString& key, fw::MsgKind kind, int buttons, int helpContext = 0) const;

private:
    void index(const QString& line);

    QStringList m_lines;
    QHash<QString, QString> m_texts; // by folded key
};
