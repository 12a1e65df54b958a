#include "widgets/services/QtUiServices.h"

#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QStandardPaths>
#include <QTableView>
#include <QTranslator>
#include <QUrl>
#include <QVBoxLayout>

#include "core/dataset/DataSetModel.h"
#include "widgets/services/TextWindows.h"

namespace fw {

// --- busy window -------------------------------------------------------------------

class BusyWindow : public QWidget {
public:
    explicit BusyWindow(QWidget* owner) : QWidget(owner, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    {
        setObjectName(QStringLiteral("frmAguarde"));
        setAttribute(Qt::WA_ShowWithoutActivating);
        auto* lay = new QVBoxLayout(this);
        m_label = new QLabel(this);
        m_label->setAlignment(Qt::AlignCenter);
        auto* bar = new QProgressBar(this);
        bar->setRange(0, 0); // indeterminate
        bar->setTextVisible(false);
        lay->addWidget(m_label);
        lay->addWidget(bar);
        setMinimumWidth(320);
    }
    void setText(const QString& text) { m_label->setText(text.isEmpty() ? QStringLiteral("Aguarde...") : text); }
    void place(QWidget* owner)
    {
        adjustSize();
        if (owner && owner->isVisible()) {
            const QPoint c = owner->mapToGlobal(owner->rect().center());
            move(c - QPoint(width() / 2, height() / 2));
        }
    }

private:
    QLabel* m_label;
};

// --- pick list -----------------------------------------------------------------------

namespace {

QWidget* activeParent()
{
    return QApplication::activeModalWidget() ? QApplication::activeModalWidget() : QApplication::activeWindow();
}

// The data set's rows under the chosen fields, with an optional check column (the first).
class PickModel : public DataSetModel {
public:
    PickModel(DataSet* ds, const QStringList& fields, bool checkable, QObject* parent)
        : DataSetModel(ds, fields, parent), m_checkable(checkable)
    {}
    QSet<int> checked; // view rows

    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
        if (m_checkable && index.column() == 0)
            f |= Qt::ItemIsUserCheckable;
        return f;
    }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (m_checkable && role == Qt::CheckStateRole && index.column() == 0)
            return checked.contains(index.row()) ? Qt::Checked : Qt::Unchecked;
        try {
            return DataSetModel::data(index, role);
        } catch (...) {
            return {};
        }
    }
    bool setData(const QModelIndex& index, const QVariant& value, int role) override
    {
        if (!m_checkable || role != Qt::CheckStateRole || index.column() != 0)
            return false;
        toggle(index.row(), value.toInt() == Qt::Checked);
        return true;
    }
    void toggle(int row, bool on)
    {
        if (on)
            checked.insert(row);
        else
            checked.remove(row);
        emit dataChanged(index(row, 0), index(row, 0), {Qt::CheckStateRole});
    }

private:
    bool m_checkable;
};

class PickDialog : public QDialog {
public:
    PickDialog(const QString& title, DataSet* ds, const QStringList& fields, bool multi, QWidget* parent)
        : QDialog(parent), m_ds(ds), m_multi(multi)
    {
        setObjectName(QStringLiteral("frmPesquisa"));
        setWindowTitle(title.isEmpty() ? QStringLiteral("Pesquisa") : title);
        auto* lay = new QVBoxLayout(this);
        m_search = new QLabel(this);
        m_search->setObjectName(QStringLiteral("lblBusca"));
        lay->addWidget(m_search);
        m_view = new QTableView(this);
        m_view->setObjectName(QStringLiteral("dbgPesquisa"));
        m_model = new PickModel(ds, fields, multi, this);
        m_view->setModel(m_model);
        m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
        m_view->setSelectionMode(QAbstractItemView::SingleSelection);
        m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        m_view->verticalHeader()->hide();
        m_view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        m_view->verticalHeader()->setDefaultSectionSize(m_view->fontMetrics().height() + 6);
        m_view->horizontalHeader()->setStretchLastSection(true);
        m_view->setWordWrap(false);
        m_view->installEventFilter(this);
        lay->addWidget(m_view, 1);
        auto* buttons = new QHBoxLayout;
        buttons->addStretch(1);
        auto* ok = new QPushButton(QStringLiteral("OK"), this);
        auto* cancel = new QPushButton(QStringLiteral("Cancelar"), this);
        ok->setAutoDefault(false);
        cancel->setAutoDefault(false);
        buttons->addWidget(ok);
        buttons->addWidget(cancel);
        lay->addLayout(buttons);
        connect(ok, &QPushButton::clicked, this, &QDialog::accept);
        connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
        connect(m_view, &QTableView::doubleClicked, this, [this](const QModelIndex& i) {
            if (!m_multi)
                accept();
            else
                m_model->toggle(i.row(), !m_model->checked.contains(i.row()));
        });
        resize(640, 420);
        const int row = ds->currentViewRow();
        if (row >= 0)
            m_view->setCurrentIndex(m_model->index(row, 0));
        for (int c = 0; c < m_model->columnCount(); ++c)
            m_view->resizeColumnToContents(c);
    }

    PickModel* model() const { return m_model; }
    int currentRow() const { return m_view->currentIndex().isValid() ? m_view->currentIndex().row() : -1; }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (watched == m_view && e->type() == QEvent::KeyPress) {
            auto* ke = static_cast<QKeyEvent*>(e);
            if (ke->key() == Qt::Key_Return || ke->key() == Qt::Key_Enter) {
                accept();
                return true;
            }
            if (ke->key() == Qt::Key_Escape) {
                reject();
                return true;
            }
            if (m_multi && ke->key() == Qt::Key_Space) {
                const int r = currentRow();
                if (r >= 0)
                    m_model->toggle(r, !m_model->checked.contains(r));
                return true;
            }
            const QString t = ke->text();
            if (!t.isEmpty() && t.at(0).isPrint() && !(ke->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
                typeAhead(t);
                return true;
            }
            if (ke->key() == Qt::Key_Backspace && !m_typed.isEmpty()) {
                m_typed.chop(1);
                m_search->setText(m_typed);
                return true;
            }
        }
        return QDialog::eventFilter(watched, e);
    }

private:
    // Incremental search: the typed prefix, in the current column, ignoring case.
    void typeAhead(const QString& t)
    {
        if (!m_typeTimer.isValid() || m_typeTimer.elapsed() > 1500)
            m_typed.clear();
        m_typeTimer.restart();
        m_typed += t;
        m_search->setText(m_typed);
        const int col = std::max(0, m_view->currentIndex().column());
        const int rows = m_model->rowCount();
        const int start = std::max(0, currentRow());
        for (int k = 0; k < rows; ++k) {
            const int r = (start + k) % rows;
            const QString text = m_model->data(m_model->index(r, col), Qt::DisplayRole).toString();
            if (text.startsWith(m_typed, Qt::CaseInsensitive)) {
                m_view->setCurrentIndex(m_model->index(r, col));
                return;
            }
        }
    }

    DataSet* m_ds;
    bool m_multi;
    QTableView* m_view;
    PickModel* m_model;
    QLabel* m_search;
    QString m_typed;
    QElapsedTimer m_typeTimer;
};

class SearchDialog : public QDialog {
public:
    SearchDialog(DataSet* ds, QWidget* parent) : QDialog(parent)
    {
        setObjectName(QStringLiteral("frmProcura"));
        setWindowTitle(QStringLiteral("Procurar"));
        auto* form = new QFormLayout;
        field = new QComboBox(this);
        field->setObjectName(QStringLiteral("cbbCampo"));
        for (Field* f : ds->fields())
            if (f->visible())
                field->addItem(f->displayLabel(), f->fieldName());
        value = new QLineEdit(this);
        value->setObjectName(QStringLiteral("edtValor"));
        form->addRow(QStringLiteral("Campo"), field);
        form->addRow(QStringLiteral("Valor"), value);
        auto* lay = new QVBoxLayout(this);
        lay->addLayout(form);
        auto* buttons = new QHBoxLayout;
        buttons->addStretch(1);
        auto* ok = new QPushButton(QStringLiteral("Procurar"), this);
        auto* cancel = new QPushButton(QStringLiteral("Cancelar"), this);
        ok->setDefault(true);
        buttons->addWidget(ok);
        buttons->addWidget(cancel);
        lay->addLayout(buttons);
        connect(ok, &QPushButton::clicked, this, &QDialog::accept);
        connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    }
    QComboBox* field;
    QLineEdit* value;
};

QMessageBox::Icon iconOf(MsgKind kind)
{
    switch (kind) {
    case MsgKind::Error: return QMessageBox::Critical;
    case MsgKind::Warning: return QMessageBox::Warning;
    case MsgKind::Information: return QMessageBox::Information;
    case MsgKind::Confirmation: return QMessageBox::Question;
    case MsgKind::Custom: return QMessageBox::NoIcon;
    }
    return QMessageBox::NoIcon;
}

QString titleOf(MsgKind kind)
{
    switch (kind) {
    case MsgKind::Error: return QStringLiteral("Erro");
    case MsgKind::Warning: return QStringLiteral("Atenção");
    case MsgKind::Information: return QStringLiteral("Informação");
    case MsgKind::Confirmation: return QStringLiteral("Confirmação");
    case MsgKind::Custom: break;
    }
    return QApplication::applicationDisplayName();
}

} // namespace

// --- QtUiServices ----------------------------------------------------------------------

namespace {
// A form the user must work in shows the normal cursor; whatever cursor was set (the
// hour-glass of the code that opened it) comes back when it closes. Override cursors stack.
struct NormalCursor {
    NormalCursor() { QApplication::setOverrideCursor(Qt::ArrowCursor); }
    ~NormalCursor() { QApplication::restoreOverrideCursor(); }
    NormalCursor(const NormalCursor&) = delete;
    NormalCursor& operator=(const NormalCursor&) = delete;
};
} // namespace

bool installHostLook(QCoreApplication* app)
{
    // Themes live in the system's data folders, which a platform without a desktop of its
    // own does not name.
    QStringList paths = QIcon::themeSearchPaths();
    for (const QString& dir : QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, QStringLiteral("icons"),
                                                        QStandardPaths::LocateDirectory))
        if (!paths.contains(dir))
            paths << dir;
    QIcon::setThemeSearchPaths(paths);
    // A desktop without a theme of its own (a bare X server, a terminal server) takes Tango.
    if (QIcon::themeName().isEmpty() || QIcon::themeName() == QLatin1String("hicolor"))
        QIcon::setThemeName(QStringLiteral("Tango"));
    QIcon::setFallbackThemeName(QStringLiteral("Tango"));
    // One translator for the application's life.
    static QTranslator* translator = nullptr;
    if (translator)
        return true;
    auto* t = new QTranslator(app);
    if (!t->load(QLocale(QLocale::Portuguese, QLocale::Brazil), QStringLiteral("qtbase"), QStringLiteral("_"),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete t;
        return false;
    }
    app->installTranslator(t);
    translator = t;
    return true;
}

QtUiServices::QtUiServices() = default;

QtUiServices::~QtUiServices()
{
    delete m_help;
    hideBusy();
    while (m_waitCursors > 0) {
        QApplication::restoreOverrideCursor();
        --m_waitCursors;
    }
    delete m_busy;
}

int QtUiServices::showMessage(MsgKind kind, const QString& text, int buttons, int)
{
    // A message must be readable: the busy window and the wait cursor step aside.
    const bool busy = busyShown();
    if (busy)
        m_busy->hide();
    QApplication::setOverrideCursor(Qt::ArrowCursor);

    QMessageBox box(iconOf(kind), titleOf(kind), text, QMessageBox::NoButton, activeParent());
    box.setObjectName(QStringLiteral("msgBox"));
    struct Def {
        int bit;
        const char* text;
        QMessageBox::ButtonRole role;
        const char* name; // for automation, as every control of the host has one
    };
    static const Def defs[] = {
        {mbYes, "Sim", QMessageBox::YesRole, "btnSim"},
        {mbNo, "Não", QMessageBox::NoRole, "btnNao"},
        {mbOK, "OK", QMessageBox::AcceptRole, "btnOK"},
        {mbCancel, "Cancelar", QMessageBox::RejectRole, "btnCancelar"},
        {mbAbort, "Abortar", QMessageBox::RejectRole, "btnAbortar"},
        {mbRetry, "Repetir", QMessageBox::AcceptRole, "btnRepetir"},
        {mbIgnore, "Ignorar", QMessageBox::AcceptRole, "btnIgnorar"},
    };
    if (buttons == mbNone)
        buttons = mbOK;
    QHash<QAbstractButton*, int> bits;
    QAbstractButton* escape = nullptr;
    for (const Def& d : defs) {
        if (!(buttons & d.bit))
            continue;
        QPushButton* b = box.addButton(QString::fromUtf8(d.text), d.role);
        b->setObjectName(QString::fromLatin1(d.name));
        bits.insert(b, d.bit);
        if (d.bit == mbCancel || (d.bit == mbNo && !(buttons & mbCancel)))
            escape = b;
    }
    if (escape)
        box.setEscapeButton(escape);
    box.exec();
    int answer = bits.value(box.clickedButton(), 0);
    if (!answer)
        answer = (buttons & mbCancel) ? int(mbCancel) : (buttons & mbNo) ? int(mbNo) : int(mbOK);

    QApplication::restoreOverrideCursor();
    if (busy && m_busy)
        m_busy->show();
    return answer;
}

bool QtUiServices::execModal(QObject* form)
{
    NormalCursor normal;
    auto* w = qobject_cast<QWidget*>(form);
    if (!w)
        return false;
    if (auto* dialog = qobject_cast<QDialog*>(w))
        return dialog->exec() == QDialog::Accepted;
    // A form that is not a dialog: modal until it hides or goes away.
    QPointer<QWidget> guard(w);
    const Qt::WindowModality before = w->windowModality();
    w->setWindowModality(Qt::ApplicationModal);
    QEventLoop loop;
    struct Watch : QObject {
        QEventLoop* loop;
        bool eventFilter(QObject*, QEvent* e) override
        {
            if (e->type() == QEvent::Hide)
                loop->quit();
            return false;
        }
    } watch;
    watch.loop = &loop;
    w->installEventFilter(&watch);
    QObject::connect(w, &QObject::destroyed, &loop, &QEventLoop::quit);
    w->show();
    if (guard && w->isVisible())
        loop.exec();
    if (guard) {
        w->removeEventFilter(&watch);
        w->setWindowModality(before);
    }
    return false;
}

int QtUiServices::pickList(const QString& title, DataSet* dataSet, const QStringList& fieldNames)
{
    NormalCursor normal;
    if (!dataSet || !dataSet->active() || dataSet->isEmpty())
        return 0;
    PickDialog dlg(title, dataSet, fieldNames, false, activeParent());
    if (dlg.exec() != QDialog::Accepted || dlg.currentRow() < 0)
        return 0;
    const int rec = dlg.currentRow() + 1;
    if (dataSet->recNo() != rec)
        dataSet->setRecNo(rec);
    return rec;
}

QList<int> QtUiServices::pickMany(const QString& title, DataSet* dataSet, const QStringList& fieldNames,
                                  const QList<int>& preselected)
{
    NormalCursor normal;
    if (!dataSet || !dataSet->active() || dataSet->isEmpty())
        return {};
    PickDialog dlg(title, dataSet, fieldNames, true, activeParent());
    for (int rec : preselected)
        if (rec >= 1 && rec <= dataSet->recordCount())
            dlg.model()->checked.insert(rec - 1);
    if (dlg.exec() != QDialog::Accepted)
        return {};
    QList<int> out;
    for (int row : dlg.model()->checked)
        out << row + 1;
    std::sort(out.begin(), out.end());
    return out;
}

bool QtUiServices::search(DataSet* dataSet, QObject* owner)
{
    NormalCursor normal;
    if (!dataSet || !dataSet->active())
        return false;
    auto* parent = qobject_cast<QWidget*>(owner);
    SearchDialog dlg(dataSet, parent ? parent : activeParent());
    while (dlg.exec() == QDialog::Accepted) {
        const QString fieldName = dlg.field->currentData().toString();
        if (fieldName.isEmpty())
            return false;
        LocateOptions o;
        o.caseInsensitive = true;
        o.partialKey = true;
        if (dataSet->locate(fieldName, dlg.value->text(), o))
            return true;
        showMessage(MsgKind::Information, QStringLiteral("Registro não encontrado."), mbOK);
    }
    return false;
}

void QtUiServices::showBusy(QObject* owner, int, const QString& text)
{
    auto* ownerWidget = qobject_cast<QWidget*>(owner);
    const bool wasShown = busyShown();
    if (!m_busy)
        m_busy = new BusyWindow(nullptr);
    m_busy->setText(text);
    m_busy->place(ownerWidget ? ownerWidget : activeParent());
    m_busy->show();
    m_busy->raise();
    m_busy->repaint();
    if (!wasShown)
        QApplication::setOverrideCursor(Qt::WaitCursor);
}

void QtUiServices::hideBusy()
{
    if (!busyShown())
        return;
    m_busy->hide();
    QApplication::restoreOverrideCursor();
}

bool QtUiServices::busyShown() const { return m_busy && m_busy->isVisible(); }

bool QtUiServices::openFile(const QString& program, const QString& path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    if (!program.isEmpty() && QProcess::startDetached(program, {absolute}))
        return true;
    // The program is not here (a Windows editor on another system): the desktop's choice.
    return QDesktopServices::openUrl(QUrl::fromLocalFile(absolute));
}

void QtUiServices::showText(const QString& title, const QString& heading, const QString& text,
                            const QString& suggestedFile)
{
    TextWindow window(activeParent(), title, heading, text, suggestedFile);
    window.exec();
}

bool QtUiServices::showHelp(const QString& screenCode)
{
    const QString page = helpPage(screenCode);
    if (page.isEmpty())
        return false;
    // Over whatever the user works in, a modal dialog included, so that it can be read and
    // closed while that dialog waits.
    QWidget* over = activeParent();
    if (!m_help)
        m_help = new HelpWindow(over);
    else if (m_help->parentWidget() != over)
        m_help->setParent(over, m_help->windowFlags());
    m_help->showPage(page);
    return true;
}

bool QtUiServices::showReport(const QString&, const QString& pdfPath)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(pdfPath).absoluteFilePath()));
}

bool QtUiServices::printPreview(const QString& title, const PageRenderer& render)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(title);
    QPrintPreviewDialog dlg(&printer, activeParent());
    dlg.setObjectName(QStringLiteral("dlgPrintPreview"));
    dlg.setWindowTitle(title);
    QObject::connect(&dlg, &QPrintPreviewDialog::paintRequested, &dlg, [&render](QPrinter* p) { render(p); });
    dlg.exec();
    return true;
}

bool QtUiServices::printDocument(const QString& title, const PageRenderer& render)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(title);
    QPrintDialog dlg(&printer, activeParent());
    dlg.setWindowTitle(title);
    if (dlg.exec() != QDialog::Accepted)
        return false;
    return render(&printer) > 0;
}

QString QtUiServices::saveFileName(const QString& title, const QString& suggested, const QString& filter)
{
    return QFileDialog::getSaveFileName(activeParent(), title, suggested, filter);
}

void QtUiServices::setCursor(int cursor)
{
    if (cursor == -11) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        ++m_waitCursors;
        return;
    }
    while (m_waitCursors > 0) {
        QApplication::restoreOverrideCursor();
        --m_waitCursors;
    }
}

} // namespace fw
