#pragma once

// TNetworkFilesDialog: "Select Network Definition Files", the list of network
// definition files (*.net) that the server is asked to open. "Add ..." picks
// a file and appends it, "Delete" removes the first selected entry, "Ok"
// accepts the list, "Cancel" keeps the old one.

#include <QDialog>
#include <QStringList>

class QListWidget;
class QPushButton;

namespace orvane {

class TNetworkFilesDialog : public QDialog {
    Q_OBJECT
public:
    explicit TNetworkFilesDialog(QWidget* parent = nullptr);

    QStringList Files() const;
    void SetFiles(const QStringList& files);

    // The buttons' actions.
    void AddClick();
    void DeleteClick();

    QListWidget* FileList() const { return m_list; }

private:
    void updateButtons();

    QListWidget* m_list;
    QPushButton* m_delete;
};

} // namespace orvane
