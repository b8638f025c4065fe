#include "ui/SyncDlg.h"

#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QVBoxLayout>
#include <algorithm>

#include "common/LogChannel.h"
#include "sync/ScriptRewrite.h"
#include "sync/ScriptSync.h"
#include "ui/DialogUnits.h"

namespace zorvo {

namespace {

enum Column { kInput, kOffset, kConfidence, kAction, kColumns };

QString ActionText(const SyncResult& result) {
    if (result.outcome == SyncOutcome::Matched) {
        const SyncEdit edit = EditForOffset(result.id, result.offsetMs);
        return QStringLiteral("videoSyncMs %1, timelineSyncMs %2")
            .arg(edit.videoSyncMs)
            .arg(edit.timelineSyncMs);
    }
    return QStringLiteral("left unchanged: %1")
        .arg(QString::fromStdString(DescribeOutcome(result)));
}

QTableWidgetItem* Item(const QString& text, Qt::Alignment alignment) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    item->setTextAlignment(alignment | Qt::AlignVCenter);
    return item;
}

}  // namespace

CSyncDlg::CSyncDlg(QWidget* owner, std::string scriptPath, std::string scriptText,
                   std::vector<SyncResult> results)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowCloseButtonHint),
      m_scriptPath(std::move(scriptPath)),
      m_scriptText(std::move(scriptText)),
      m_results(std::move(results)) {
    setWindowTitle(QStringLiteral("Zorvo - Auto-sync"));
    const DialogUnits units(font());

    const bool anyMatched =
        std::any_of(m_results.begin(), m_results.end(),
                    [](const SyncResult& r) { return r.outcome == SyncOutcome::Matched; });
    m_heading.setParent(this);
    m_heading.setText(QStringLiteral("%1\n%2").arg(
        QFile::decodeName(QByteArray::fromStdString(m_scriptPath)),
        anyMatched ? QStringLiteral("Write these offsets into the script?")
                   : QStringLiteral("No input matched the song: nothing to write.")));

    m_table.setParent(this);
    m_table.setObjectName(QStringLiteral("results"));
    m_table.setColumnCount(kColumns);
    m_table.setHorizontalHeaderLabels({QStringLiteral("Input"), QStringLiteral("Offset (ms)"),
                                       QStringLiteral("Confidence"),
                                       QStringLiteral("Written to the script")});
    m_table.verticalHeader()->hide();
    m_table.setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table.setRowCount(static_cast<int>(m_results.size()));
    for (int row = 0; row < m_table.rowCount(); ++row) {
        const SyncResult& result = m_results[static_cast<size_t>(row)];
        // A refused match still has a confidence worth seeing; its offset means nothing.
        const bool measured =
            result.outcome == SyncOutcome::Matched || result.outcome == SyncOutcome::NoMatch;
        const Qt::Alignment right = Qt::AlignRight;
        m_table.setItem(row, kInput, Item(QString::fromStdString(result.id), Qt::AlignLeft));
        m_table.setItem(
            row, kOffset,
            Item(result.outcome == SyncOutcome::Matched ? QString::number(result.offsetMs, 'f', 2)
                                                        : QString(),
                 right));
        m_table.setItem(
            row, kConfidence,
            Item(measured ? QString::number(result.confidence, 'f', 2) : QString(), right));
        m_table.setItem(row, kAction, Item(ActionText(result), Qt::AlignLeft));
    }
    m_table.resizeColumnsToContents();
    m_table.horizontalHeader()->setStretchLastSection(true);

    m_write.setParent(this);
    m_write.setObjectName(QStringLiteral("write"));
    m_write.setText(QStringLiteral("Write to script"));
    m_write.setEnabled(anyMatched);
    m_write.setDefault(anyMatched);
    connect(&m_write, &QPushButton::clicked, this, [this] { OnWrite(); });

    m_cancel.setParent(this);
    m_cancel.setObjectName(QStringLiteral("cancel"));
    m_cancel.setText(QStringLiteral("Cancel"));
    m_cancel.setAutoDefault(!anyMatched);
    connect(&m_cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(&m_write);
    buttons->addWidget(&m_cancel);
    auto* layout = new QVBoxLayout(this);  // owned by the dialog
    layout->addWidget(&m_heading);
    layout->addWidget(&m_table);
    layout->addLayout(buttons);
    resize(units.X(300), units.Y(150));
}

QString CSyncDlg::Cell(int row, int column) const {
    const QTableWidgetItem* item = m_table.item(row, column);
    return item != nullptr ? item->text() : QString();
}

void CSyncDlg::OnWrite() {
    if (WriteOffsets(m_scriptPath, m_scriptText, m_results)) {
        accept();
    } else {
        ReportWriteFailure();
    }
}

void CSyncDlg::ReportWriteFailure() {
    QMessageBox::warning(this, windowTitle(),
                         QStringLiteral("The offsets could not be written into the script; "
                                        "it was left as it was. The log says why."));
}

}  // namespace zorvo
