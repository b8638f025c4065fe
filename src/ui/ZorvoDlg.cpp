#include "ui/ZorvoDlg.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMimeData>
#include <QMoveEvent>
#include <QResizeEvent>
#include <QScreen>
#include <QShortcut>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>

#include "common/Version.h"
#include "render/Project.h"
#include "sync/ScriptSync.h"
#include "ui/AdjustmentsDlg.h"
#include "ui/DialogUnits.h"
#include "ui/EditorLaunch.h"
#include "ui/FileDialogs.h"
#include "ui/StoryboardDlg.h"
#include "ui/SyncDlg.h"
#include "ui/ZorvoIcon.h"

namespace zorvo {

namespace {

constexpr int kRecentScripts = 5;
const char* const kRecentKey = "recentScripts";

}  // namespace

CZorvoDlg::CZorvoDlg(QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint),
      m_follower([this] { ScriptChanged(); }),
      m_checker([this](const CheckReport& report) { ShowProblems(report); }),
      m_syncNotifier([this] { FinishSync(); }),
      m_logQueue([this](const LogMessage& message) { OnLogMessage(message); }) {
    const DialogUnits units(font());

    // The build's controls keep their described places on their panel.
    QWidget* const panel = &m_panel;
    m_log.setParent(panel);
    m_log.setObjectName(QStringLiteral("log"));
    m_log.setReadOnly(true);
    m_log.setUndoRedoEnabled(false);
    m_log.setLineWrapMode(QPlainTextEdit::NoWrap);
    m_log.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_log.setGeometry(units.Rect(7, 7, 344, 129));

    for (QProgressBar* bar : {&m_upperBar, &m_lowerBar}) {
        bar->setParent(panel);
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setTextVisible(false);
    }
    m_upperBar.setObjectName(QStringLiteral("upperBar"));
    m_upperBar.setGeometry(units.Rect(7, 138, 344, 13));
    m_lowerBar.setObjectName(QStringLiteral("lowerBar"));
    m_lowerBar.setGeometry(units.Rect(7, 152, 344, 13));

    m_adjustments.setParent(panel);
    m_adjustments.setObjectName(QStringLiteral("adjustments"));
    m_adjustments.setText(QStringLiteral("Adjustments"));
    m_adjustments.setGeometry(units.Rect(7, 166, 50, 14));
    m_adjustments.setAutoDefault(false);
    connect(&m_adjustments, &QPushButton::clicked, this, [this] { OnAdjustments(); });

    m_autoSync.setParent(panel);
    m_autoSync.setObjectName(QStringLiteral("autoSync"));
    m_autoSync.setText(QStringLiteral("Auto-sync"));
    m_autoSync.setGeometry(units.Rect(60, 166, 50, 14));
    m_autoSync.setAutoDefault(false);
    connect(&m_autoSync, &QPushButton::clicked, this, [this] { OnAutoSync(); });

    m_storyboard.setParent(panel);
    m_storyboard.setObjectName(QStringLiteral("storyboard"));
    m_storyboard.setText(QStringLiteral("Storyboard"));
    m_storyboard.setGeometry(units.Rect(113, 166, 50, 14));
    m_storyboard.setAutoDefault(false);
    connect(&m_storyboard, &QPushButton::clicked, this, [this] { OnStoryboard(); });

    m_remainingLabel.setParent(panel);
    m_remainingLabel.setObjectName(QStringLiteral("remainingLabel"));
    m_remainingLabel.setText(QStringLiteral("remaining:"));
    const QRect labelRect = units.Rect(184, 169, 34, 9);
    const int labelLeft = units.LabelLeft(184, m_remainingLabel.sizeHint().width(), 219);
    m_remainingLabel.setGeometry(labelLeft, labelRect.y(), labelRect.right() + 1 - labelLeft,
                                 labelRect.height());

    m_remaining.setParent(panel);
    m_remaining.setObjectName(QStringLiteral("remaining"));
    m_remaining.setReadOnly(true);
    m_remaining.setGeometry(units.Rect(219, 168, 54, 12));

    m_build.setParent(panel);
    m_build.setObjectName(QStringLiteral("build"));
    m_build.setText(QStringLiteral("Build"));
    m_build.setGeometry(units.Rect(301, 166, 50, 14));
    m_build.setDefault(true);
    connect(&m_build, &QPushButton::clicked, this, [this] { OnBuild(); });

    m_panel.resize(units.X(358), units.Y(187));
    m_panel.setMinimumSize(m_panel.size());
    std::vector<CCtrlAuto>& anchors = m_panel.anchors;
    AddControl(&m_log, anchors, 0, 0);
    AddControl(&m_upperBar, anchors, 0, 0);
    AddControl(&m_lowerBar, anchors, 0, 0);
    AddControl(&m_remainingLabel, anchors, 2, 2);
    AddControl(&m_remaining, anchors, 2, 2);
    AddControl(&m_build, anchors, 1, 0);
    AddControl(&m_adjustments, anchors, 0, 2);
    AddControl(&m_autoSync, anchors, 0, 2);
    AddControl(&m_storyboard, anchors, 0, 2);
    for (CCtrlAuto& record : anchors) {
        RecordInitial(m_panel, record);
    }

    // The session row.
    m_open.setObjectName(QStringLiteral("open"));
    m_open.setText(QStringLiteral("Open..."));
    m_open.setToolTip(QStringLiteral("Open a script (Ctrl+O); the arrow lists the last ones"));
    m_open.setPopupMode(QToolButton::MenuButtonPopup);
    m_open.setToolButtonStyle(Qt::ToolButtonTextOnly);
    m_open.setMenu(&m_recentMenu);
    connect(&m_open, &QToolButton::clicked, this, [this] { OnOpen(); });
    auto* openKey = new QShortcut(QKeySequence::Open, this);  // owned by the window
    connect(openKey, &QShortcut::activated, this, [this] { OnOpen(); });
    m_edit.setObjectName(QStringLiteral("edit"));
    m_edit.setText(QStringLiteral("Edit"));
    m_edit.setToolTip(QStringLiteral("Open the script in your editor ($VISUAL, $EDITOR)"));
    m_edit.setAutoDefault(false);
    m_edit.setEnabled(false);
    connect(&m_edit, &QPushButton::clicked, this, [this] { EditScript(0); });
    m_statusLine.setObjectName(QStringLiteral("statusLine"));
    m_statusLine.setTextInteractionFlags(Qt::TextSelectableByMouse);
    QPalette errorColour = m_statusLine.palette();
    errorColour.setColor(QPalette::WindowText, QColor(0xc0, 0x10, 0x10));
    m_statusLine.setPalette(errorColour);
    auto* sessionRow = new QHBoxLayout;  // owned by the window's layout
    sessionRow->addWidget(&m_open);
    sessionRow->addWidget(&m_edit);
    sessionRow->addWidget(&m_statusLine, 1);

    m_problems.setObjectName(QStringLiteral("problems"));
    m_problems.setColumnCount(2);
    m_problems.setHeaderLabels({QStringLiteral("Line"), QStringLiteral("Problems")});
    m_problems.setRootIsDecorated(false);
    m_problems.setUniformRowHeights(true);
    // A problem is read whole: a line longer than the list scrolls instead of ending in "...".
    m_problems.header()->setStretchLastSection(false);
    m_problems.header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    m_problems.setMinimumHeight(units.Y(40));
    connect(&m_problems, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
        if (!m_scriptPath.isEmpty()) {
            EditScript(item->data(0, Qt::UserRole).toInt());
        }
    });

    m_upper.setOrientation(Qt::Horizontal);
    m_upper.addWidget(&m_problems);
    m_split.setOrientation(Qt::Vertical);
    m_split.setChildrenCollapsible(false);
    m_split.addWidget(&m_upper);
    m_split.addWidget(&m_panel);
    // What the window grows by goes to the stretching parts, in proportion to their sizes.
    m_split.setStretchFactor(0, 0);
    m_split.setStretchFactor(1, 1);
    auto* layout = new QVBoxLayout(this);  // owned by the window
    // The panel's controls keep their own 7-unit margin; the rest lines up with them.
    layout->setContentsMargins(0, units.Y(4), 0, 0);
    sessionRow->setContentsMargins(units.X(7), 0, units.X(7), 0);
    m_upper.setContentsMargins(units.X(7), 0, units.X(7), 0);
    layout->addLayout(sessionRow);
    layout->addWidget(&m_split, 1);

    setAcceptDrops(true);
    UpdateRecent(QString());
    setWindowTitle(PlainTitle());
    setWindowIcon(ZorvoIcon());
    resize(layout->minimumSize());
    m_split.setSizes({m_upper.minimumSizeHint().height(), m_panel.height()});  // no size hints

    m_initialClientRect = rect();

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
    return ChooseFile(this, FileKind::Script);
}

void CZorvoDlg::EditScript(int line) {
    OpenInEditor(m_scriptPath, line);
}

QString CZorvoDlg::PlainTitle() const {
    return m_scriptPath.isEmpty()
               ? QString::fromLatin1(kTitle)
               : QStringLiteral("%1 - %2").arg(QFileInfo(m_scriptPath).fileName(),
                                               QString::fromLatin1(kTitle));
}

void CZorvoDlg::OnOpen() {
    const QString path = ChooseScriptFile();
    if (!path.isEmpty()) {
        OpenScript(path);
    }
}

void CZorvoDlg::OpenScript(const QString& scriptPath) {
    ClearStatus();
    const QFileInfo file(scriptPath);
    if (!file.isFile()) {
        // A recent script that has gone away leaves the list.
        QStringList recent = Settings().value(QLatin1String(kRecentKey)).toStringList();
        recent.removeAll(file.absoluteFilePath());
        Settings().setValue(QLatin1String(kRecentKey), recent);
        UpdateRecent(QString());
        m_statusLine.setText(QStringLiteral("Cannot open %1: no such file.").arg(scriptPath));
        return;
    }
    m_scriptPath = file.absoluteFilePath();
    UpdateRecent(m_scriptPath);
    m_edit.setEnabled(true);
    if (!m_buildJob && !SyncRunning()) {
        setWindowTitle(PlainTitle());
    }
    m_follower.Follow(m_scriptPath);
    m_checker.Request(m_scriptPath);
    emit ScriptOpened(m_scriptPath);
}

void CZorvoDlg::ScriptChanged() {
    m_checker.Request(m_scriptPath);
    emit ScriptReloaded(m_scriptPath);
}

void CZorvoDlg::ShowProblems(const CheckReport& report) {
    m_problemList = report.problems;
    m_problems.clear();
    const QIcon error = style()->standardIcon(QStyle::SP_MessageBoxCritical);
    const QIcon warning = style()->standardIcon(QStyle::SP_MessageBoxWarning);
    const QIcon information = style()->standardIcon(QStyle::SP_MessageBoxInformation);
    const bool onlyInformation =
        std::all_of(m_problemList.begin(), m_problemList.end(),
                    [](const ScriptProblem& problem) { return problem.information; });
    if (onlyInformation && report.valid) {
        auto* item = new QTreeWidgetItem(&m_problems);  // owned by the list
        item->setText(1, QStringLiteral("No problems: the script is valid."));
        item->setFlags(Qt::ItemIsEnabled);
    }
    for (const ScriptProblem& problem : m_problemList) {
        auto* item = new QTreeWidgetItem(&m_problems);  // owned by the list
        if (problem.line > 0) {
            item->setText(0, QStringLiteral("%1:%2").arg(problem.line).arg(problem.column));
        }
        item->setData(0, Qt::UserRole, problem.line);
        item->setIcon(1, problem.information ? information : problem.warning ? warning : error);
        item->setText(1, QString::fromStdString(problem.text));
        item->setToolTip(1, QString::fromStdString(problem.detail));
    }
    if (m_problemList.empty() && !report.valid) {
        auto* item = new QTreeWidgetItem(&m_problems);
        item->setText(1, QStringLiteral("The check failed; see the log."));
        item->setFlags(Qt::ItemIsEnabled);
    }
    m_problems.resizeColumnToContents(0);
    // A failure of an earlier run says nothing about a script that now checks clean.
    if (report.valid && m_failureShown && m_build.isEnabled()) {
        m_statusLine.clear();
        m_failureShown = false;
    }
    emit ProblemsChecked();
}

void CZorvoDlg::UpdateRecent(const QString& openedPath) {
    QStringList recent = Settings().value(QLatin1String(kRecentKey)).toStringList();
    if (!openedPath.isEmpty()) {
        recent.removeAll(openedPath);
        recent.prepend(openedPath);
        while (recent.size() > kRecentScripts) {
            recent.removeLast();
        }
        Settings().setValue(QLatin1String(kRecentKey), recent);
    }
    m_recentMenu.clear();
    for (const QString& path : recent) {
        m_recentMenu.addAction(path, this, [this, path] { OpenScript(path); });
    }
    m_recentMenu.setEnabled(!recent.isEmpty());
}

void CZorvoDlg::SetStudioWidgets(QWidget* timeline, QWidget* preview) {
    if (preview) {
        m_upper.insertWidget(0, preview);
        // What the window grows by goes to the picture.
        m_upper.setStretchFactor(0, 1);
        m_upper.setStretchFactor(1, 0);
    }
    if (timeline) {
        m_split.insertWidget(1, timeline);
        ShortenLog(DialogUnits(font()).Y(kStudioLogCut));
    }
    // The picture and the timeline want room: most of the screen, up to 1280 x 900, never less
    // than the window already has.
    if (const QScreen* screen = this->screen()) {
        const QRect room = screen->availableGeometry();
        resize(std::max(width(), std::min(1280, room.width() * 9 / 10)),
               std::max(height(), std::min(900, room.height() * 9 / 10)));
    }
    // The picture and the timeline take what the window grows by; the log keeps its size.
    QList<int> sizes(m_split.count(), 0);
    const int panel = m_panel.minimumHeight();
    const int rest = std::max(0, m_split.height() - panel);
    sizes.back() = panel;
    if (timeline) {
        sizes[1] = std::min(rest / 2, std::max(timeline->sizeHint().height(), rest / 4));
    }
    sizes[0] = rest - sizes[1];
    m_split.setSizes(sizes);
    if (preview) {
        // The preview as wide as a 16:9 picture as tall as its room (half the width at least);
        // the Problems list the rest, so that its lines are read whole.
        const int room = m_upper.width() > 0 ? m_upper.width() : width();
        const int lowest = std::max(room / 2, room - DialogUnits(font()).X(240));
        const int shown = std::clamp(sizes[0] * 16 / 9 + 16, lowest,
                                     std::max(lowest, room - DialogUnits(font()).X(100)));
        m_upper.setSizes({shown, room - shown});
    }
    for (int i = 0; i < m_split.count(); ++i) {
        m_split.setStretchFactor(i, i + 1 < m_split.count() ? 1 : 0);
    }
}

void CZorvoDlg::ShortenLog(int cut) {
    // Back to the described places first, then the log shorter and what lies below it moved up
    // by as much; those places are the panel's new starting point.
    std::vector<CCtrlAuto>& anchors = m_panel.anchors;
    if (anchors.empty() || cut <= 0 || m_log.height() - cut < m_log.fontMetrics().height() * 4) {
        return;
    }
    const int width = anchors.front().initialClientWidth;
    const int height = anchors.front().initialClientHeight;
    Relayout(anchors, width, height);
    for (CCtrlAuto& record : anchors) {
        QRect place = record.control->geometry();
        if (record.control == &m_log) {
            place.setHeight(place.height() - cut);
        } else {
            place.translate(0, -cut);
        }
        record.control->setGeometry(place);
    }
    m_panel.setMinimumSize(width, height - cut);
    m_panel.resize(width, height - cut);
    for (CCtrlAuto& record : anchors) {
        RecordInitial(m_panel, record);
    }
}

void CZorvoDlg::ClearStatus() {
    m_statusLine.clear();
    m_failureShown = false;
    m_actionLog.clear();
}

void CZorvoDlg::ShowFailure(const QString& action) {
    // Nothing of the failed run is left standing but its reason.
    setWindowTitle(PlainTitle());
    m_upperBar.setRange(0, 100);
    m_upperBar.setValue(0);
    m_lowerBar.setValue(0);
    m_remaining.clear();
    std::string first;
    for (size_t start = 0; start < m_actionLog.size() && first.empty();) {
        size_t end = m_actionLog.find('\n', start);
        end = end == std::string::npos ? m_actionLog.size() : end;
        if (m_actionLog.compare(start, 6, "Error ") == 0) {
            first = m_actionLog.substr(start, end - start);
        }
        start = end + 1;
    }
    m_failureShown = true;
    m_statusLine.setText(
        first.empty() ? QStringLiteral("%1 failed; see the log.").arg(action)
                      : QStringLiteral("%1 failed: %2").arg(action, QString::fromStdString(first)));
}

QString CZorvoDlg::ActionScript() {
    if (m_scriptPath.isEmpty()) {
        const QString path = ChooseScriptFile();
        if (!path.isEmpty()) {
            OpenScript(path);
        }
    }
    return m_scriptPath;
}

void CZorvoDlg::OnBuild() {
    const QString path = ActionScript();
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
    ClearStatus();
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
    const QString path = ActionScript();
    if (!path.isEmpty()) {
        StartStoryboard(path);
    }
}

void CZorvoDlg::StartStoryboard(const QString& scriptPath) {
    if (SyncRunning() || m_buildJob) {
        return;
    }
    ClearStatus();
    EnableActions(false);
    m_log.clear();
    m_sheetScript = scriptPath;
    // Wide thumbnails in rows of six, a row (or more) per span.
    m_sheet = std::make_unique<ContactSheet>(240, 6, true);
    m_buildJob =
        std::make_unique<CProject>(QFile::encodeName(scriptPath).toStdString(), *m_sheet, false);
}

void CZorvoDlg::OnAutoSync() {
    const QString path = ActionScript();
    if (!path.isEmpty()) {
        StartSync(path);
    }
}

void CZorvoDlg::StartSync(const QString& scriptPath) {
    if (SyncRunning() || m_buildJob) {
        return;
    }
    // The script may be rewritten at the end: no build reads it meanwhile.
    ClearStatus();
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
    setWindowTitle(PlainTitle());
    EnableActions(true);
    if (!m_syncRead) {
        ShowFailure(QStringLiteral("Auto-sync"));
        return;
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
    if (!built) {
        ShowFailure(m_sheet ? QStringLiteral("Storyboard") : QStringLiteral("Build"));
    }
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
            // A storyboard writes no video to preview, and a build that fails before its first
            // frame (a script error, say) has none either: its opening reset shows nothing.
            if (m_outputDialog && !m_sheet && m_outputDialog->HasFrame()) {
                m_outputDialog->show();
            }
            m_lowerBar.setValue(message.percent);
            setWindowTitle(message.percent == 100
                               ? PlainTitle()
                               : QStringLiteral("Zorvo - %1%").arg(message.percent));
            break;
        case LogKind::Text:
            m_actionLog += message.text;
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
        QPoint at(frame.x() + frame.width(), frame.y());
        // Beside the window where the screen has room, else over its right edge: never off
        // the screen.
        if (const QScreen* screen = this->screen()) {
            const QRect room = screen->availableGeometry();
            const QSize size = m_outputDialog->frameGeometry().size();
            at.setX(std::max(room.left(), std::min(at.x(), room.right() + 1 - size.width())));
            at.setY(std::max(room.top(), std::min(at.y(), room.bottom() + 1 - size.height())));
        }
        m_outputDialog->move(at);
    }
}

void CZorvoDlg::resizeEvent(QResizeEvent* event) {
    const QSize size = event->size();
    if (!m_initialClientRect.isNull() && (size.width() < m_initialClientRect.width() ||
                                          size.height() < m_initialClientRect.height())) {
        // Never smaller than at first, in both directions at once.
        resize(m_initialClientRect.size());
    }
    QDialog::resizeEvent(event);
    DockOutput();
    update();
}

void CZorvoDlg::dragEnterEvent(QDragEnterEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (!urls.isEmpty() && urls.front().isLocalFile()) {
        event->acceptProposedAction();
    }
}

void CZorvoDlg::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (!urls.isEmpty() && urls.front().isLocalFile()) {
        event->acceptProposedAction();
        OpenScript(urls.front().toLocalFile());
    }
}

void CZorvoDlg::moveEvent(QMoveEvent* event) {
    QDialog::moveEvent(event);
    DockOutput();
}

}  // namespace zorvo
