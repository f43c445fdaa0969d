#include "download/KDownloadAppProgress.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "download/DownloadLog.h"
#include "download/KDownloadScript.h"
#include "model/KIDuxlaneControl.h"
#include "platform/DialogService.h"
#include "platform/Exception.h"
#include "platform/StatusBar.h"

namespace orvane {

namespace {

constexpr int kStepPanelWidth = 50;
constexpr int kElapsedRefreshMs = 250;
// The bytes and the bar follow the writes ten times a second.
constexpr int kRefreshMs = 100;

const QString kDownloadingText = QStringLiteral("Downloading File...");
const QString kInitializingText = QStringLiteral("Initializing Control...");
const QString kCancellingText = QStringLiteral("Cancelling...");
const QString kHaltedText = QStringLiteral("Download halted; press Cancel.");
const QString kNoEndText = QStringLiteral("Script has no end statement; press Cancel.");

QString MismatchText(const QString& controlProduct, const QString& scriptProduct) {
    return QStringLiteral("The Product ID in the control does not match the Product ID in the "
                          "download script. The controlID is : ") +
           controlProduct + QStringLiteral("  The script file Product ID is : ") + scriptProduct +
           QStringLiteral("  Continuing could result in a failure to program the control.") +
           QStringLiteral(" Ignore the problem and continue?");
}

QString ElapsedText(qint64 ms) {
    const qint64 seconds = ms / 1000;
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QLabel* BoldValue(QWidget* parent, const QString& name) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    return label;
}

} // namespace

TKProgressDialog::TKProgressDialog(QWidget* parent)
    : QDialog(parent), m_progressBar(new QProgressBar(this)), m_appName(BoldValue(this, "AppName")),
      m_cancelButton(new QPushButton(QStringLiteral("Cancel"), this)),
      m_bytesDownloaded(BoldValue(this, "BytesDownloaded")), m_bytesOf(BoldValue(this, "BytesOf")),
      m_productId(BoldValue(this, "ProductIDLabel")), m_elapsed(BoldValue(this, "Elapsed")),
      m_statusBar(new TStatusBar(this)) {
    setWindowTitle(QStringLiteral("Download"));
    setObjectName(QStringLiteral("KProgressDialog"));
    setModal(true);
    setFixedSize(kWidth, kHeight);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);

    m_progressBar->setObjectName(QStringLiteral("ProgressBar"));
    m_progressBar->setRange(0, 0);
    m_progressBar->setTextVisible(false);
    auto* bevel = new QFrame(this);
    bevel->setObjectName(QStringLiteral("Bevel1"));
    bevel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    auto* bevelLayout = new QVBoxLayout(bevel);
    bevelLayout->setContentsMargins(4, 4, 4, 4);
    bevelLayout->addWidget(m_progressBar);

    m_appName->setWordWrap(true);
    m_appName->setMinimumHeight(2 * fontMetrics().height());
    m_appName->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(2);
    grid->addWidget(new QLabel(QStringLiteral("Download File:"), this), 0, 0, Qt::AlignTop);
    grid->addWidget(m_appName, 0, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Bytes Downloaded:"), this), 1, 0);
    grid->addWidget(m_bytesDownloaded, 1, 1);
    grid->addWidget(m_bytesOf, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Product ID:"), this), 2, 0);
    grid->addWidget(m_productId, 2, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Time Elapsed:"), this), 3, 0);
    grid->addWidget(m_elapsed, 3, 1, 1, 2);
    grid->setColumnStretch(2, 1);

    m_cancelButton->setObjectName(QStringLiteral("CancelButton"));
    connect(m_cancelButton, &QPushButton::clicked, this, [this] { Cancel(); });
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_cancelButton);
    buttons->addStretch(1);

    m_statusBar->setObjectName(QStringLiteral("StatusBar1"));
    m_statusBar->setSizeGripEnabled(false);
    m_statusBar->AddPanel(kStepPanelWidth);
    // The step texts are longer than the panel's nominal width; let the one
    // panel take the whole bar so that none is cut off.
    if (auto* label = m_statusBar->findChild<QLabel*>()) {
        label->setMinimumWidth(kWidth - 16);
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 0);
    layout->setSpacing(6);
    layout->addWidget(bevel);
    layout->addLayout(grid);
    layout->addStretch(1);
    layout->addLayout(buttons);
    layout->addWidget(m_statusBar);

    m_refreshTimer.setSingleShot(true);
    m_refreshTimer.setInterval(kRefreshMs);
    connect(&m_refreshTimer, &QTimer::timeout, this, [this] { Refresh(); });
    m_elapsedTimer.setInterval(kElapsedRefreshMs);
    connect(&m_elapsedTimer, &QTimer::timeout, this, [this] { UpdateElapsed(); });

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

TKProgressDialog::~TKProgressDialog() = default;

void TKProgressDialog::Setup(const QString& fileName, TKIDuxlaneControl* device,
                             TKDownloadScript* script) {
    m_script = script;
    m_device = device;
    m_appName->setText(fileName);
    m_bytes = 0;
    m_bytesTotal = script != nullptr ? script->WriteBytes() : 0;
    UpdateBytes();
    m_productId->clear();
    // Every statement advances the bar, so a complete script fills it.
    m_progressBar->setRange(0, script != nullptr ? script->Count() : 0);
    m_progressBar->setValue(0);
    m_position = 0;
    m_cancelled = false;
    m_halted = false;
    m_inProgramming = false;
    m_started = false;
    m_waitCounter = 0;
    m_outcome = Outcome::Running;
    m_elapsed->setText(ElapsedText(0));
    SetStepText(QString());
}

void TKProgressDialog::ForgetDevice() {
    m_device = nullptr;
    Cancel();
}

void TKProgressDialog::Cancel() {
    if (!m_cancelled) {
        m_cancelled = true;
        SetStepText(kCancellingText);
        qCInfo(lcDownload) << "Download cancelled";
    }
    if (m_outcome == Outcome::Running) {
        m_outcome = m_halted ? Outcome::Failed : Outcome::Cancelled;
    }
    // The dialog goes at once; a command already sent ends inside its own wait
    // and the next step sees the cancel.
    done(QDialog::Rejected);
}

void TKProgressDialog::reject() {
    // Escape and the window's close button are the Cancel button.
    Cancel();
}

QString TKProgressDialog::StepText() const {
    return m_statusBar->PanelText(0);
}

QString TKProgressDialog::BytesText() const {
    return m_bytesDownloaded->text();
}

QString TKProgressDialog::ProductIDText() const {
    return m_productId->text();
}

QString TKProgressDialog::AppNameText() const {
    return m_appName->text();
}

int TKProgressDialog::Position() const {
    return m_position;
}

int TKProgressDialog::Maximum() const {
    return m_progressBar->maximum();
}

void TKProgressDialog::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (!m_started) {
        m_started = true;
        m_clock.start();
        m_elapsedTimer.start();
        Post(kNextStepMessage);
    }
}

bool TKProgressDialog::event(QEvent* e) {
    if (e->type() == QEvent::Type(kNextStepMessage)) {
        NextStep();
        return true;
    }
    if (e->type() == QEvent::Type(kWaitForControlMessage)) {
        WaitForControl();
        return true;
    }
    return QDialog::event(e);
}

void TKProgressDialog::Post(int message) {
    if (message == kWaitForControlMessage) {
        QTimer::singleShot(kWaitPollIntervalMs, this, [this] {
            QCoreApplication::postEvent(this, new QEvent(QEvent::Type(kWaitForControlMessage)));
        });
        return;
    }
    QCoreApplication::postEvent(this, new QEvent(QEvent::Type(message)));
}

void TKProgressDialog::NextStep() {
    // A fast control takes a write in well under a millisecond, and a posted
    // message per write would cost the program as much as the write itself:
    // statements follow one another within one step for up to kStepBatchMs.
    // Every command's wait runs the event loop, so the dialog still repaints
    // and takes Cancel, which is looked at before each statement.
    QElapsedTimer step;
    step.start();
    do {
        if (m_cancelled || m_device == nullptr || m_script == nullptr) {
            Cancel();
            return;
        }
        TKStatement* statement = m_script->Next();
        if (statement == nullptr) {
            // Without an end statement there is nothing left to send; the
            // dialog waits for Cancel without stepping through nothing.
            Refresh();
            SetStepText(kNoEndText);
            return;
        }
        try {
            if (!RunStatement(statement)) {
                return;
            }
        } catch (const std::exception& error) {
            const auto* ours = dynamic_cast<const Exception*>(&error);
            Halt(ours != nullptr ? ours->message() : QString::fromLocal8Bit(error.what()));
            return;
        }
    } while (step.elapsed() < kStepBatchMs);
    Post(kNextStepMessage);
}

bool TKProgressDialog::RunStatement(TKStatement* statement) {
    if (auto* write = dynamic_cast<TKWriteStatement*>(statement)) {
        SetStepText(kDownloadingText);
        m_device->WriteProgramMemory(write->Address(), write->Data().data(), write->Count());
        m_bytes += write->Count();
        Advance();
        return true;
    }
    if (auto* product = dynamic_cast<TKProductStatement*>(statement)) {
        const QString controlProduct = m_device->ProductID();
        m_productId->setText(product->ProductID());
        if (controlProduct != product->ProductID()) {
            const TModalResult answer = messageDlg(
                MismatchText(controlProduct, product->ProductID()), mtWarning, mbIgnoreCancel);
            if (answer != mrIgnore) {
                m_outcome = Outcome::ProductRejected;
                Cancel();
                return false;
            }
        }
        Advance();
        return true;
    }
    if (auto* begin = dynamic_cast<TKBeginStatement*>(statement)) {
        m_device->BeginProgrammingMode(begin->Address(), begin->Length());
        m_inProgramming = true;
        SetStepText(kInitializingText);
        Advance();
        if (m_cancelled) {
            Cancel();
            return false;
        }
        if (!m_device->ControlStatus()) {
            Post(kWaitForControlMessage);
            return false;
        }
        return true;
    }
    if (dynamic_cast<TKEndStatement*>(statement) != nullptr) {
        m_device->EndProgrammingMode();
        m_inProgramming = false;
        m_position = m_progressBar->maximum();
        Finish(Outcome::Completed);
        return false;
    }
    return true;
}

void TKProgressDialog::WaitForControl() {
    if (m_cancelled || m_device == nullptr) {
        Cancel();
        return;
    }
    ++m_waitCounter;
    if (m_waitCounter >= kBlankFirstPoll && m_waitCounter <= kBlankLastPoll) {
        SetStepText(QString());
    } else if (m_waitCounter > kWaitCounterWrap) {
        m_waitCounter = 0;
        SetStepText(kInitializingText);
    }
    bool answers = false;
    try {
        answers = m_device->ControlStatus();
    } catch (const std::exception& error) {
        const auto* ours = dynamic_cast<const Exception*>(&error);
        Halt(ours != nullptr ? ours->message() : QString::fromLocal8Bit(error.what()));
        return;
    }
    if (m_cancelled) {
        Cancel();
        return;
    }
    if (answers) {
        SetStepText(kInitializingText);
    }
    Post(answers ? kNextStepMessage : kWaitForControlMessage);
}

void TKProgressDialog::SetStepText(const QString& text) {
    // Every write sets its step text; the bar is laid out again only when it
    // changes.
    if (m_statusBar->PanelText(0) != text) {
        m_statusBar->SetPanelText(0, text);
    }
}

void TKProgressDialog::Halt(const QString& message) {
    // The failing command's own text, shown as the application shows any
    // error; no further step is posted and the engineer ends it with Cancel.
    m_halted = true;
    Refresh();
    qCWarning(lcDownload).noquote() << "Download halted:" << message;
    SetStepText(kHaltedText);
    if (!m_cancelled) {
        showError(message);
    }
    if (m_cancelled) {
        Cancel();
    }
}

void TKProgressDialog::Finish(Outcome outcome) {
    m_outcome = outcome;
    Refresh();
    m_elapsedTimer.stop();
    UpdateElapsed();
    done(QDialog::Accepted);
}

void TKProgressDialog::Advance() {
    m_position = std::min(m_position + 1, m_progressBar->maximum());
    // A fast control gets through hundreds of writes a second; the labels and
    // the bar follow at a pace the eye can take, not once per write.
    if (!m_refreshTimer.isActive()) {
        m_refreshTimer.start();
    }
}

void TKProgressDialog::Refresh() {
    m_refreshTimer.stop();
    UpdateBytes();
    m_progressBar->setValue(m_position);
}

void TKProgressDialog::UpdateBytes() {
    m_bytesDownloaded->setText(QString::number(m_bytes));
    m_bytesOf->setText(QStringLiteral("of %1").arg(m_bytesTotal));
}

void TKProgressDialog::UpdateElapsed() {
    if (m_clock.isValid()) {
        m_elapsed->setText(ElapsedText(m_clock.elapsed()));
    }
}

} // namespace orvane
