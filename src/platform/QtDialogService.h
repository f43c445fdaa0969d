#pragma once

// The dialog service of the program: Qt's message boxes and file dialogs. It
// lives in the widget part of the platform library so that programs without
// widgets (the simulated server) do not link Qt Widgets.
//
// Thread: main thread only; every call is modal.

#include "platform/DialogService.h"

namespace orvane {

// Message boxes and file dialogs of Qt (QMessageBox, QFileDialog).
class QtDialogService : public DialogService {
public:
    // Becomes the service of every box shown while no other is installed,
    // for as long as it lives.
    QtDialogService();
    ~QtDialogService() override;
    QtDialogService(const QtDialogService&) = delete;
    QtDialogService& operator=(const QtDialogService&) = delete;

    TModalResult messageBox(TMsgDlgType type, const QString& text, TMsgDlgButtons buttons) override;
    TModalResult captionedMessageBox(TMsgDlgType type, const QString& caption, const QString& text,
                                     TMsgDlgButtons buttons) override;
    std::optional<QString> openFile(const FileDialogRequest& request) override;
    std::optional<QString> saveFile(const FileDialogRequest& request) override;

private:
    std::optional<QString> runFileDialog(const FileDialogRequest& request, bool save);

    DialogService* m_previousGuiDefault = nullptr;
};

} // namespace orvane
