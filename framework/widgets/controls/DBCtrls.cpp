#include "widgets/controls/DBCtrls.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QToolButton>

#include "core/errors/Dispatch.h"
#include "core/errors/Errors.h"

namespace fw {

// --- FieldLink -------------------------------------------------------------------

FieldLink::FieldLink(QObject* parent) : QObject(parent) {}

void FieldLink::setDataSource(TDataSource* ds)
{
    if (m_source == ds)
        return;
    m_source = ds;
    rebind();
}

void FieldLink::setFieldName(const QString& name)
{
    m_fieldName = name;
    emit refresh();
}

DataSet* FieldLink::dataSet() const { return m_source ? m_source->dataSet() : nullptr; }

Field* FieldLink::field() const
{
    DataSet* ds = dataSet();
    if (!ds || !ds->active() || m_fieldName.isEmpty())
        return nullptr;
    return ds->findField(m_fieldName);
}

bool FieldLink::canModify() const { return field() != nullptr; }

bool FieldLink::startEdit(bool autoEdit)
{
    DataSet* ds = dataSet();
    if (!ds || !ds->active())
        return false;
    const DataSetState s = ds->state();
    if (s == DataSetState::Edit || s == DataSetState::Insert)
        return true;
    const QVariant sourceAuto = m_source->property("AutoEdit");
    if (!autoEdit || !m_source->enabled() || (sourceAuto.isValid() && !sourceAuto.toBool()))
        return false;
    ds->edit();
    return ds->state() == DataSetState::Edit || ds->state() == DataSetState::Insert;
}

void FieldLink::write(const QString& text)
{
    Field* f = field();
    if (!f)
        return;
    m_writing = true;
    try {
        f->setAsString(text);
    } catch (...) {
        m_writing = false;
        throw;
    }
    m_writing = false;
}

void FieldLink::rebind()
{
    for (const auto& c : m_conns)
        disconnect(c);
    m_conns.clear();
    if (m_source)
        m_conns << connect(m_source, &TDataSource::dataSetChanged, this, [this] { rebind(); });
    if (DataSet* ds = dataSet()) {
        m_conns << connect(ds, &DataSet::layoutReset, this, &FieldLink::refresh);
        m_conns << connect(ds, &DataSet::currentChanged, this, &FieldLink::refresh);
        m_conns << connect(ds, &DataSet::stateChanged, this, &FieldLink::refresh);
        m_conns << connect(ds, &DataSet::rowChanged, this, [this, ds](int row) {
            if (row == ds->currentViewRow())
                emit refresh();
        });
    }
    emit refresh();
}

namespace {
// The text a bound control shows: the edit text, through OnGetText.
QString fieldText(Field* f)
{
    if (!f)
        return QString();
    try {
        return f->text();
    } catch (...) {
        return QString();
    }
}

// Writes what the user typed into the linked field (putting the data set in edit state
// when allowed) and runs OnChange; false when refused.
template <class Ctrl>
bool writeEdited(Ctrl* c, FieldLink* link, const QString& text)
{
    return dispatch([&] {
        if (!link->field() || !link->startEdit(c->AutoEdit))
            throw Abort();
        link->write(text);
        if (c->OnChange)
            c->OnChange(c);
    });
}
} // namespace

// --- TDBEdit ---------------------------------------------------------------------

TDBEdit::TDBEdit(QWidget* parent, const QString& name) : QLineEdit(parent), m_link(new FieldLink(this))
{
    if (!name.isEmpty())
        setObjectName(name);
    ensureFocusWatcher();
    connect(m_link, &FieldLink::refresh, this, &TDBEdit::showField);
    connect(this, &QLineEdit::textEdited, this, &TDBEdit::edited);
}

void TDBEdit::showField()
{
    if (m_link->writing())
        return;
    Field* f = m_link->field();
    const QString t = fieldText(f);
    if (t != QLineEdit::text())
        QLineEdit::setText(t);
    if (f && f->dataType() == FieldType::String && f->size() > 0)
        setMaxLength(f->size());
}

void TDBEdit::edited(const QString& text)
{
    const bool ok = writeEdited(this, m_link, text);
    if (!ok)
        showField(); // refused: the field's value comes back
}

// --- TDBMemo ---------------------------------------------------------------------

TDBMemo::TDBMemo(QWidget* parent, const QString& name) : QPlainTextEdit(parent), m_link(new FieldLink(this))
{
    if (!name.isEmpty())
        setObjectName(name);
    ensureFocusWatcher();
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setTabChangesFocus(true);
    connect(m_link, &FieldLink::refresh, this, &TDBMemo::showField);
    connect(this, &QPlainTextEdit::textChanged, this, &TDBMemo::edited);
}

int TDBMemo::limit() const
{
    // No limit from the field: a text longer than the field stays visible, so that the
    // screen's own check can refuse it (the field keeps what fits).
    return m_maxLength;
}

void TDBMemo::setText(const QString& t) { setPlainText(t); }

void TDBMemo::setReadOnly(bool r)
{
    QPlainTextEdit::setReadOnly(r);
    // Keep the caret and selection usable for reading.
    setTextInteractionFlags(r ? Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse : Qt::TextEditorInteraction);
}

void TDBMemo::showField()
{
    if (m_link->writing())
        return;
    const QString t = fieldText(m_link->field());
    if (t == toPlainText())
        return;
    m_showing = true;
    setPlainText(t);
    m_showing = false;
}

void TDBMemo::edited()
{
    if (m_showing)
        return;
    QString text = toPlainText();
    const int max = limit();
    if (max > 0 && text.size() > max) {
        // Pasted or set beyond the limit: keep what fits.
        text.truncate(max);
        m_showing = true;
        setPlainText(text);
        moveCursor(QTextCursor::End);
        m_showing = false;
    }
    if (!m_link->dataSource())
        return; // unbound: a plain memo
    const bool ok = writeEdited(this, m_link, text);
    if (!ok)
        showField();
}

void TDBMemo::keyPressEvent(QKeyEvent* e)
{
    const int max = limit();
    if (max > 0 && !isReadOnly() && !e->text().isEmpty() && e->text().at(0).isPrint() && !textCursor().hasSelection() &&
        toPlainText().size() >= max) {
        e->accept(); // full
        return;
    }
    QPlainTextEdit::keyPressEvent(e);
}

void TDBMemo::insertFromMimeData(const QMimeData* source)
{
    const int max = limit();
    if (max <= 0 || !source->hasText()) {
        QPlainTextEdit::insertFromMimeData(source);
        return;
    }
    const int room = max - int(toPlainText().size()) + int(textCursor().selectedText().size());
    if (room <= 0)
        return;
    textCursor().insertText(source->text().left(room));
}

// --- TDBText ---------------------------------------------------------------------

TDBText::TDBText(QWidget* parent, const QString& name) : QLabel(parent), m_link(new FieldLink(this))
{
    if (!name.isEmpty())
        setObjectName(name);
    connect(m_link, &FieldLink::refresh, this, &TDBText::showField);
}

void TDBText::showField()
{
    Field* f = m_link->field();
    QString t;
    if (f) {
        try {
            t = f->displayText();
        } catch (...) {}
    }
    setText(t);
}

// --- TDBNavigator ----------------------------------------------------------------

TDBNavigator::TDBNavigator(QWidget* parent, const QString& name) : QWidget(parent), m_link(new FieldLink(this))
{
    if (!name.isEmpty())
        setObjectName(name);
    auto* lay = new QHBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->setSpacing(0);
    const char* names[4] = {"nbFirst", "nbPrior", "nbNext", "nbLast"};
    const char* texts[4] = {"|◀", "◀", "▶", "▶|"};
    const char* hints[4] = {"Primeiro", "Anterior", "Próximo", "Último"};
    for (int i = 0; i < 4; ++i) {
        auto* b = new QToolButton(this);
        b->setObjectName(QString::fromLatin1(names[i]));
        b->setText(QString::fromUtf8(texts[i]));
        b->setToolTip(QString::fromUtf8(hints[i]));
        b->setAutoRaise(true);
        b->setFocusPolicy(Qt::NoFocus);
        lay->addWidget(b);
        m_buttons[i] = b;
        connect(b, &QToolButton::clicked, this, [this, i] { dispatch([&] { BtnClick(Button(i)); }); });
    }
    connect(m_link, &FieldLink::refresh, this, &TDBNavigator::updateButtons);
    updateButtons();
}

void TDBNavigator::BtnClick(Button b)
{
    DataSet* ds = m_link->dataSet();
    if (!ds || !ds->active())
        return;
    switch (b) {
    case nbFirst: ds->first(); break;
    case nbPrior: ds->prior(); break;
    case nbNext: ds->next(); break;
    case nbLast: ds->last(); break;
    }
}

void TDBNavigator::updateButtons()
{
    DataSet* ds = m_link->dataSet();
    const bool open = ds && ds->active() && !ds->isEmpty();
    const int rec = open ? ds->recNo() : 0;
    const int count = open ? ds->recordCount() : 0;
    m_buttons[nbFirst]->setEnabled(open && rec > 1);
    m_buttons[nbPrior]->setEnabled(open && rec > 1);
    m_buttons[nbNext]->setEnabled(open && rec < count);
    m_buttons[nbLast]->setEnabled(open && rec < count);
}

} // namespace fw
