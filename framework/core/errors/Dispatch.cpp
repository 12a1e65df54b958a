#include "core/errors/Dispatch.h"

#include <QDebug>
#include <exception>

#include "core/errors/Errors.h"
#include "core/ui/UiServices.h"

namespace fw {

namespace {
void report(const QString& text)
{
    if (uiServicesInstalled())
        ui().showMessage(MsgKind::Error, text, mbOK);
    else
        qWarning().noquote() << text;
}
} // namespace

bool dispatch(const std::function<void()>& fn)
{
    try {
        fn();
        return true;
    } catch (const Abort&) {
        return false;
    } catch (const Error& e) {
        report(e.message());
    } catch (const std::exception& e) {
        report(QString::fromUtf8(e.what()));
    } catch (...) {
        report(QStringLiteral("Erro inesperado."));
    }
    return false;
}

} // namespace fw
