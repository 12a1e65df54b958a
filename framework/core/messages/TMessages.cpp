#include "core/messages/TMessages.h"

#include <QDebug>

namespace {
QString foldKey(const QString& key) { return key.trimmed().toCaseFolded(); }
} // namespace

TMessages::TMessages(QObject* parent) : QObject(parent) {}

void TMessages::setLines(const QStringList& lines)
{
    clear();
    for (const QString& line : lines)
        addLine(line);
}

void TMessages::addLine(const QString& line)
{
    m_lines.append(line);
    index(line);
}

void TMessages::clear()
{
    m_lines.clear();
    m_texts.clear();
}

void TMessages::index(const QString& line)
{
    const int bar = line.indexOf(QLatin1Char('|'));
    if (bar <= 0)
        return;
    const QString key = foldKey(line.left(bar));
    if (key.isEmpty() || m_texts.contains(key))
        return;
    m_texts.insert(key, line.mid(bar + 1));
}

bool TMessages::contains(const QString& key) const { return m_texts.contains(foldKey(key)); }

QString TMessages::Msg(const QString& key) const
{
    const auto it = m_texts.constFind(foldKey(key));
    if (it == m_texts.constEnd()) {
        qWarning().noquote() << QStringLiteral("%1: mensagem sem texto para a chave \"%2\"")
                                    .arg(objectName().isEmpty() ? QStringLiteral("TMessages") : objectName(), key);
        return QString();
    }
    return *it;
}

int TMessages::ShowMsg(const QString& key, fw::MsgKind kind, int buttons, int helpContext) const
{
    return fw::ui().showMessage(kind, Msg(key), buttons, helpContext);
}
