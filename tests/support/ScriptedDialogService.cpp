#include "ScriptedDialogService.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>

namespace orvane::test {

namespace {
const char* kindName(bool save) {
    return save ? "save-file dialog" : "open-file dialog";
}
} // namespace

ScriptedDialogService::ScriptedDialogService() : m_previous(DialogService::setCurrent(this)) {}

ScriptedDialogService::~ScriptedDialogService() {
    DialogService::setCurrent(m_previous);
    for (const Step& step : m_script) {
        ADD_FAILURE() << "an expected "
                      << (step.kind == Kind::Message ? "message box"
                                                     : kindName(step.kind == Kind::SaveFile))
                      << " was never shown"
                      << (step.expectedText.isEmpty()
                              ? std::string()
                              : ": \"" + step.expectedText.toStdString() + "\"");
    }
}

ScriptedDialogService& ScriptedDialogService::answerMessage(TModalResult answer,
                                                            const QString& expectedText) {
    m_script.push_back(Step{Kind::Message, answer, expectedText, std::nullopt, {}});
    return *this;
}

ScriptedDialogService& ScriptedDialogService::closeMessage(const QString& expectedText) {
    return answerMessage(mrNone, expectedText);
}

ScriptedDialogService& ScriptedDialogService::answerOpenFile(std::optional<QString> path) {
    m_script.push_back(Step{Kind::OpenFile, mrNone, QString(), std::move(path), {}});
    return *this;
}

ScriptedDialogService& ScriptedDialogService::answerSaveFile(std::optional<QString> path) {
    m_script.push_back(Step{Kind::SaveFile, mrNone, QString(), std::move(path), {}});
    return *this;
}

ScriptedDialogService& ScriptedDialogService::whileShown(std::function<void()> action) {
    if (m_script.empty()) {
        ADD_FAILURE() << "whileShown without a scripted dialog";
    } else {
        m_script.back().whileOpen = std::move(action);
    }
    return *this;
}

QStringList ScriptedDialogService::messageTexts() const {
    QStringList texts;
    for (const Message& m : m_messages) {
        texts.append(m.text);
    }
    return texts;
}

TModalResult ScriptedDialogService::messageBox(TMsgDlgType type, const QString& text,
                                               TMsgDlgButtons buttons) {
    TModalResult answer = closeResultOf(buttons);
    if (m_script.empty() || m_script.front().kind != Kind::Message) {
        ADD_FAILURE() << "unexpected " << captionOf(type).toStdString() << " message box: \""
                      << text.toStdString() << "\"";
    } else {
        const Step step = m_script.front();
        m_script.pop_front();
        if (!step.expectedText.isEmpty()) {
            EXPECT_EQ(text.toStdString(), step.expectedText.toStdString());
        }
        if (step.whileOpen) {
            QEventLoop loop;
            QTimer::singleShot(0, &loop, [&] {
                step.whileOpen();
                loop.quit();
            });
            loop.exec();
        }
        if (step.answer == mrNone) {
            answer = closeResultOf(buttons);
        } else if (hasButton(buttons, step.answer)) {
            answer = step.answer;
        } else {
            ADD_FAILURE() << "scripted answer " << step.answer
                          << " is not a button of the message box \"" << text.toStdString() << "\"";
        }
    }
    m_messages.push_back(Message{type, text, buttons, answer});
    return answer;
}

TModalResult ScriptedDialogService::captionedMessageBox(TMsgDlgType type, const QString& caption,
                                                        const QString& text,
                                                        TMsgDlgButtons buttons) {
    const TModalResult answer = messageBox(type, text, buttons);
    m_messages.back().caption = caption;
    return answer;
}

std::optional<QString> ScriptedDialogService::openFile(const FileDialogRequest& request) {
    return fileDialog(request, false);
}

std::optional<QString> ScriptedDialogService::saveFile(const FileDialogRequest& request) {
    return fileDialog(request, true);
}

std::optional<QString> ScriptedDialogService::fileDialog(const FileDialogRequest& request,
                                                         bool save) {
    const Kind kind = save ? Kind::SaveFile : Kind::OpenFile;
    std::optional<QString> answer;
    if (m_script.empty() || m_script.front().kind != kind) {
        ADD_FAILURE() << "unexpected " << kindName(save) << " \"" << request.caption.toStdString()
                      << "\" with filter \"" << request.filter.toStdString() << "\"";
    } else {
        answer = m_script.front().path;
        m_script.pop_front();
    }
    m_fileDialogs.push_back(FileDialog{save, request, answer});
    return answer;
}

} // namespace orvane::test
