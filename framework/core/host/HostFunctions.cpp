#include "core/host/HostFunctions.h"

#include <QDebug>

#include "core/errors/Errors.h"
#include "core/host/EditMask.h"
#include "core/ui/UiServices.h"
#include "core/values/Value.h"

void MensErro(const QString& text, bool abort)
{
    // Without installed UI services (a batch run, a misconfigured test) the text must
    // not be lost: it goes to the log instead.
    if (fw::uiServicesInstalled())
        fw::ui().showMessage(fw::MsgKind::Error, text, fw::mbOK);
    else
        qWarning().noquote() << text;
    if (abort)
        throw fw::Abort();
}

bool IsResultError(const QVariant& result) { return result.isValid() && result.metaType().id() == QMetaType::QString; }

QVariant CheckResultServ(const QVariant& result, bool abort, int helpContext)
{
    Q_UNUSED(helpContext);
    if (!IsResultError(result))
        return result;
    QString text = result.toString();
    // An empty error text would show an empty box; say what happened instead.
    if (text.trimmed().isEmpty())
        text = QStringLiteral("O servidor de aplicação não retornou os dados solicitados.");
    MensErro(text, abort);
    return fw::emptyValue();
}

bool EmptyString(const QString& text) { return text.trimmed().isEmpty(); }

QString Ajusta(const QString& code, int width)
{
    const QString c = code.trimmed();
    if (c.isEmpty())
        return QString();
    bool numeric = true;
    for (const QChar ch : c) {
        if (ch < QLatin1Char('0') || ch > QLatin1Char('9')) {
            numeric = false;
            break;
        }
    }
    // Longer codes are kept whole: cutting them would silently name another code.
    if (numeric)
        return c.rightJustified(width, QLatin1Char('0'), false);
    return c.toUpper().leftJustified(width, QLatin1Char(' '), false);
}

void Ajusta_Inscricao(QString& registration)
{
    QString out;
    out.reserve(registration.size());
    for (const QChar ch : registration) {
        if (ch.isSpace() || ch == QLatin1Char('.') || ch == QLatin1Char('-') || ch == QLatin1Char('/'))
            continue;
        out += ch.toUpper();
    }
    registration = out;
}

QString PictPess(const QString& personType)
{
    const QString t = personType.trimmed().toUpper();
    if (t == QLatin1String("J"))
        return QStringLiteral("99.999.999/9999-99;0;_");
    if (t == QLatin1String("F"))
        return QStringLiteral("999.999.999-99;0;_");
    return QString();
}

QString FormatMaskText(const QString& editMask, const QString& value)
{
    const fw::EditMask mask = fw::parseEditMask(editMask);
    if (mask.isEmpty())
        return value;

    QString chars = value;
    if (mask.saveLiterals) {
        // The value already holds the literals where the mask puts them; keep only its input.
        QString input;
        int v = 0;
        for (const fw::EditMaskSlot& s : mask.positions) {
            if (v >= chars.size())
                break;
            if (s.kind == fw::EditMaskSlot::Kind::Literal) {
                if (chars[v] == s.literal)
                    ++v;
                continue;
            }
            input += chars[v++];
        }
        if (v < chars.size())
            return value;
        chars = input;
    }
    // A value that does not fit is shown as it is rather than cut.
    if (chars.size() > mask.inputCount())
        return value;

    QString out;
    int v = 0;
    for (const fw::EditMaskSlot& s : mask.positions) {
        if (s.kind == fw::EditMaskSlot::Kind::Literal) {
            out += s.literal;
            continue;
        }
        if (v >= chars.size()) {
            out += mask.blank;
            continue;
        }
        QChar c = chars[v++];
        if (s.caseChange == fw::EditMaskSlot::Case::Upper)
            c = c.toUpper();
        else if (s.caseChange == fw::EditMaskSlot::Case::Lower)
            c = c.toLower();
        out += c;
    }
    return out;
}

QDate PriDiaMes(const QDate& date)
{
    if (!date.isValid())
        return QDate();
    return QDate(date.year(), date.month(), 1);
}

bool ExistParam(const QStringList& params, const QString& name)
{
    const QString wanted = name.trimmed();
    if (wanted.isEmpty())
        return false;
    for (const QString& line : params) {
        const int eq = line.indexOf(QLatin1Char('='));
        const QString key = (eq < 0 ? line : line.left(eq)).trimmed();
        if (key.compare(wanted, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}
