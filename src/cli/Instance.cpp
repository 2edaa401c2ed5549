#include "Instance.h"

#include "Cli.h"
#include "common/NorvelaError.h"
#include "common/SettingsStore.h"
#include "control/ControlClient.h"
#include "control/InstanceLock.h"
#include "models/AppControl.h"
#include "models/AppModel.h"
#include "platform/DesktopServices.h"

#include <QPointer>
#include <QTextStream>

namespace norvela::cli {

namespace {

Answer fromClient(const ControlClient::Result& result) {
    Answer answer;
    answer.fromRunningInstance = true;
    switch (result.kind) {
    case ControlClient::Result::Kind::notRunning:
        answer.kind = Answer::Kind::notRunning;
        answer.fromRunningInstance = false;
        break;
    case ControlClient::Result::Kind::replied:
        answer.kind = result.ok() ? Answer::Kind::answered : Answer::Kind::refused;
        answer.reply = result.reply;
        answer.error = result.error;
        break;
    case ControlClient::Result::Kind::failed:
        answer.kind = Answer::Kind::refused;
        answer.error = QStringLiteral("no answer from the running Norvela: ") + result.error;
        break;
    }
    return answer;
}

// The request answered by this process: the same models and actions as the app, without
// engines, so nothing uploads.
QCoro::Task<Answer> answerHere(QJsonObject request) {
    SettingsStore settings;
    AppModel model(settings, EngineFactory{}, DesktopServices::system());
    AppControl control(model);
    Answer answer;
    try {
        answer.reply = co_await control.handle(request);
        answer.kind = Answer::Kind::answered;
    } catch (...) {
        answer.error = describe(std::current_exception());
    }
    co_return answer;
}

} // namespace

QCoro::Task<Answer> ask(QJsonObject request, std::chrono::milliseconds timeout, bool orHere, bool lockHere) {
    Answer answer = fromClient(co_await ControlClient::request(request, timeout));
    if (answer.kind != Answer::Kind::notRunning || !orHere)
        co_return answer;
    if (!lockHere)
        co_return co_await answerHere(request);

    auto lock = InstanceLock::acquire();
    if (std::holds_alternative<InstanceLock::Held>(lock)) // started meanwhile: it answers
        co_return fromClient(co_await ControlClient::request(request, timeout));
    if (const QString* error = std::get_if<QString>(&lock)) {
        answer.kind = Answer::Kind::refused;
        answer.error = *error;
        co_return answer;
    }
    co_return co_await answerHere(request);
}

int reportFailure(const Answer& answer, QTextStream& err) {
    if (answer.kind == Answer::Kind::notRunning) {
        err << "norvela: Norvela is not running (start the app, or run 'norvela sync')\n";
        return Exit::notRunning;
    }
    err << "norvela: " << answer.error << '\n';
    return Exit::failure;
}

} // namespace norvela::cli
