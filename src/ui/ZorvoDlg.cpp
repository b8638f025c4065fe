#include "ui/ZorvoDlg.h"

#include <QFile>
#include <QFileDialog>
#include <QMoveEvent>
#include <QResizeEvent>
#include <cstring>

#include "common/Version.h"
#include "render/Project.h"
#include "sync/ScriptSync.h"
#include "ui/AdjustmentsDlg.h"
#include "ui/DialogUnits.h"
#include "ui/StoryboardDlg.h"
#include "ui/SyncDlg.h"
#include "ui/ZorvoIcon.h"

namespace zorvo {

namespace {

const char* const kScriptFilter = "Zorvo script Files (*.txt);;All Files (*)";

}  // namespace

CZorvoDlg::CZorvoDlg(QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint),
      m_syncNotifier([this] { FinishSync(); }),
      m_logQueue([this](const LogMessage& message) { OnLogMessage(message); }) {
    const DialogUnits units(font());

    m_log.setParent(this);
    m_log.setObjectName(QStringLiteral("log"));
    m_log.setReadOnly(true);
    m_log.setUndoRedoEnabled(false);
    m_log.setLineWrapMode(QPlainTextEdit::NoWrap);
    m_log.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_log.setGeometry(units.Rect(7, 7, 344, 129));

    for (QProgressBar* bar : {&m_upperBar, &m_lowerBar}) {
        bar->setParent(this);
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setTextVisible(false);
    }
    m_upperBar.setObjectName(QStringLiteral("upperBar"));
    m_upperBar.setGeometry(units.Rect(7, 138, 344, 13));
    m_lowerBar.setObjectName(QStringLiteral("lowerBar"));
    m_lowerBar.setGeometry(units.Rect(7, 152, 344, 13));

    m_adjustments.setParent(this);
    m_adjustments.setObjectName(QStringLiteral("adjustments"));
    m_adjustments.setText(QStringLiteral("Adjustments"));
    m_adjustments.setGeometry(units.Rect(7, 166, 50, 14));
    m_adjustments.setAutoDefault(false);
    connect(&m_adjustments, &QPushButton::clicked, this, [this] { OnAdjustments(); });

    m_autoSync.setParent(this);
    m_autoSync.setObjectName(QStringLiteral("autoSync"));
    m_autoSync.setText(QStringLiteral("Auto-sync"));
    m_autoSync.setGeometry(units.Rect(60, 166, 50, 14));
    m_autoSync.setAutoDefault(false);
    connect(&m_autoSync, &QPushButton::clicked, this, [this] { OnAutoSync(); });

    m_storyboard.setParent(this);
    m_storyboard.setObjectName(QStringLiteral("storyboard"));
    m_storyboard.setText(QStringLiteral("Storyboard"));
    m_storyboard.setGeometry(units.Rect(113, 166, 50, 14));
    m_storyboard.setAutoDefault(false);
    connect(&m_storyboard, &QPushButton::clicked, this, [this] { OnStoryboard(); });

    m_remainingLabel.setParent(this);
    m_remainingLabel.setObjectName(QStringLiteral("remainingLabel"));
    m_remainingLabel.setText(QStringLiteral("remaining:"));
    const QRect labelRect = units.Rect(184, 169, 34, 9);
    const int labelLeft = units.LabelLeft(184, m_remainingLabel.sizeHint().width(), 219);
    m_remainingLabel.setGeometry(labelLeft, labelRect.y(), labelRect.right() + 1 - labelLeft,
                                 labelRect.height());

    m_remaining.setParent(this);
    m_remaining.setObjectName(QStringLiteral("remaining"));
    m_remaining.setReadOnly(true);
    m_remaining.setGeometry(units.Rect(219, 168, 54, 12));

    m_build.setParent(this);
    m_build.setObjectName(QStringLiteral("build"));
    m_build.setText(QStringLiteral("Build"));
    m_build.setGeometry(units.Rect(301, 166, 50, 14));
    m_build.setDefault(true);
    connect(&m_build, &QPushButton::clicked, this, [this] { OnBuild(); });

    setWindowTitle(QString::fromLatin1(kTitle));
    setWindowIcon(ZorvoIcon());
    resize(units.X(358), units.Y(187));
    m_initialClientRect = rect();

    AddControl(&m_log, m_anchors, 0, 0);
    AddControl(&m_upperBar, m_anchors, 0, 0);
    AddControl(&m_lowerBar, m_anchors, 0, 0);
    AddControl(&m_remainingLabel, m_anchors, 2, 2);
    AddControl(&m_remaining, m_anchors, 2, 2);
    AddControl(&m_build, m_anchors, 1, 0);
    AddControl(&m_adjustments, m_anchors, 0, 2);
    AddControl(&m_autoSync, m_anchors, 0, 2);
    AddControl(&m_storyboard, m_anchors, 0, 2);
    for (CCtrlAuto& record : m_anchors) {
        RecordInitial(*this, record);
    }

    PostLog(Format("Welcome in Zorvo %s by r.vosque\n\n", kVersion));
}

CZorvoDlg::~CZorvoDlg() {
    m_ignoreMessages = true;
    EndSyncThread();
    m_buildJob.reset();
    m_outputDialog.reset();
    m_storyboardWindow.reset();
}

void CZorvoDlg::reject() {
    m_ignoreMessages = true;
    EndSyncThread();     // a sync cannot be stopped, but it takes seconds, not minutes
    m_buildJob.reset();  // stops the build and waits; the AVI is closed properly
    m_outputDialog.reset();
    m_storyboardWindow.reset();
    QDialog::reject();
}

QString CZorvoDlg::ChooseScriptFile() {
    return QFileDialog::getOpenFileName(this, QString(), QString(),
                                        QString::fromLatin1(kScriptFilter));
}

void CZorvoDlg::OnBuild() {
    const QString path = ChooseScriptFile();
    if (!path.isEmpty()) {
        StartBuild(path);
    }
}

void CZorvoDlg::EnableActions(bool enabled) {
    m_build.setEnabled(enabled);
    m_autoSync.setEnabled(enabled);
    m_storyboard.setEnabled(enabled);
}

void CZorvoDlg::StartBuild(const QString& scriptPath) {
    EnableActions(false);
    m_log.clear();
    if (!m_outputDialog) {
        m_outputDialog = std::make_unique<COutputDlg>(this);
    }
    m_outputDialog->Clear();
    DockOutput();
    m_buildJob.reset();
    m_buildJob = std::make_unique<CProject>(QFile::encodeName(scriptPath).toStdString(),
                                            m_outputDialog.get());
}

void CZorvoDlg::OnAdjustments() {
    m_ignoreMessages = true;
    {
        CAdjustmentsDlg dialog(this);
        dialog.exec();
    }
    m_ignoreMessages = false;
    if (m_finishDropped) {
        // The job's thread has ended: its finish message was the last thing it did.
        m_finishDropped = false;
        FinishBuild();
    }
    if (m_syncFinishDropped) {
        m_syncFinishDropped = false;
        FinishSync();
    }
}

void CZorvoDlg::OnStoryboard() {
    const QString path = ChooseScriptFile();
    if (!path.isEmpty()) {
        StartStoryboard(path);
    }
}

void CZorvoDlg::StartStoryboard(const QString& scriptPath) {
    if (SyncRunning() || m_buildJob) {
        return;
    }
    EnableActions(false);
    m_log.clear();
    m_sheetScript = scriptPath;
    // Wide thumbnails in rows of six, a row (or more) per span.
    m_sheet = std::make_unique<ContactSheet>(240, 6, true);
    m_buildJob =
        std::make_unique<CProject>(QFile::encodeName(scriptPath).toStdString(), *m_sheet, false);
}

void CZorvoDlg::OnAutoSync() {
    const QString path = ChooseScriptFile();
    if (!path.isEmpty()) {
        StartSync(path);
    }
}

void CZorvoDlg::StartSync(const QString& scriptPath) {
    if (SyncRunning() || m_buildJob) {
        return;
    }
    // The script may be rewritten at the end: no build reads it meanwhile.
    EnableActions(false);
    m_upperBar.setRange(0, 0);  // busy: how many cameras there are is known only later
    setWindowTitle(QStringLiteral("Zorvo - syncing"));
    m_syncScript = QFile::encodeName(scriptPath).toStdString();
    m_syncRead = false;
    m_syncResults.clear();
    m_syncCamerasDone = 0;
    m_syncThread = std::thread([this] {
        auto cameraDone = [this](const SyncResult& result) {
            PostLog(Format("sync: %s done (%zu)\n", result.id.c_str(), ++m_syncCamerasDone));
        };
        m_syncRead = FindScriptOffsets(m_syncScript, cameraDone, m_syncResults, m_syncText);
        m_syncNotifier.Notify();  // the last thing the thread does
    });
}

void CZorvoDlg::EndSyncThread() {
    if (m_syncThread.joinable()) {
        m_syncThread.join();
    }
}

void CZorvoDlg::FinishSync() {
    if (!SyncRunning()) {
        return;  // joined already, by a close
    }
    if (m_ignoreMessages) {
        m_syncFinishDropped = true;
        return;
    }
    EndSyncThread();
    m_upperBar.setRange(0, 100);
    m_upperBar.setValue(0);
    setWindowTitle(QString::fromLatin1(kTitle));
    EnableActions(true);
    if (!m_syncRead) {
        return;  // the failure has been logged
    }
    for (const SyncResult& result : m_syncResults) {
        PostLog(ReportLine(result));
    }
    ShowSyncResults(m_syncScript, std::move(m_syncResults));
    m_syncResults.clear();
}

void CZorvoDlg::ShowSyncResults(const std::string& scriptPath, std::vector<SyncResult> results) {
    CSyncDlg dialog(this, scriptPath, m_syncText, std::move(results));
    dialog.exec();
}

void CZorvoDlg::FinishBuild() {
    EnableActions(true);
    if (m_outputDialog) {
        m_outputDialog->hide();
    }
    const bool built = m_buildJob && m_buildJob->Succeeded();
    m_buildJob.reset();
    if (m_sheet) {
        const std::unique_ptr<ContactSheet> sheet = std::move(m_sheet);
        if (built && !sheet->Sheet().Empty()) {
            ShowStoryboard(*sheet);
        }
    }
}

void CZorvoDlg::ShowStoryboard(const ContactSheet& sheet) {
    FrameBitmap picture;
    if (!picture.Allocate(sheet.Sheet().Width(), sheet.Sheet().Height())) {
        PostLog("Error (Storyboard): Failed to allocate the sheet.\n");
        return;
    }
    std::memcpy(picture.Bits(), sheet.Sheet().Bits(), picture.SizeBytes());
    PostLog(Format("Storyboard of %zu still(s) (%ix%i).\n", sheet.Stills().size(), picture.Width(),
                   picture.Height()));
    m_storyboardWindow =
        std::make_unique<CStoryboardDlg>(this, m_sheetScript, std::move(picture), sheet.filesRead);
    m_storyboardWindow->show();
}

void CZorvoDlg::OnLogMessage(const LogMessage& message) {
    if (m_ignoreMessages) {
        if (message.kind == LogKind::BuildFinished && m_buildJob) {
            m_finishDropped = true;
        }
        return;
    }
    switch (message.kind) {
        case LogKind::Progress:
            if (message.bar == 0) {
                m_upperBar.setValue(message.percent);
                break;
            }
            if (m_outputDialog && !m_sheet) {  // a storyboard writes no video to preview
                m_outputDialog->show();
            }
            m_lowerBar.setValue(message.percent);
            setWindowTitle(message.percent == 100
                               ? QString::fromLatin1(kTitle)
                               : QStringLiteral("Zorvo - %1%").arg(message.percent));
            break;
        case LogKind::Text:
            AppendLog(message.text);
            break;
        case LogKind::Status:
            m_remaining.setText(QString::fromStdString(message.text));
            break;
        case LogKind::BuildFinished:
            FinishBuild();
            break;
    }
}

void CZorvoDlg::AppendLog(const std::string& text) {
    // The text goes to the end whatever the user selected, and the end stays in view.
    m_log.moveCursor(QTextCursor::End);
    m_log.insertPlainText(QString::fromStdString(text));
    m_log.moveCursor(QTextCursor::End);
    m_log.ensureCursorVisible();
}

void CZorvoDlg::DockOutput() {
    if (m_outputDialog) {
        const QRect frame = frameGeometry();
        m_outputDialog->move(frame.x() + frame.width(), frame.y());
    }
}

void CZorvoDlg::resizeEvent(QResizeEvent* event) {
    int width = event->size().width();
    int height = event->size().height();
    if (!m_initialClientRect.isNull() &&
        (width < m_initialClientRect.width() || height < m_initialClientRect.height())) {
        // Never smaller than at first, in both directions at once.
        resize(m_initialClientRect.size());
        width = this->width();
        height = this->height();
    }
    Relayout(m_anchors, width, height);
    QDialog::resizeEvent(event);
    DockOutput();
    update();
}

void CZorvoDlg::moveEvent(QMoveEvent* event) {
    QDialog::moveEvent(event);
    DockOutput();
}

}  // namespace zorvo
