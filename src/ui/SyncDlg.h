#pragma once

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <string>
#include <vector>

#include "sync/AudioSync.h"

namespace zorvo {

// What Auto-sync found for every input of a script, and the choice to write the offsets into it.
class CSyncDlg : public QDialog {
    Q_OBJECT

  public:
    // `scriptText`: the script as the results were found with it.
    CSyncDlg(QWidget* owner, std::string scriptPath, std::string scriptText,
             std::vector<SyncResult> results);

    // The text of one cell: input, offset, confidence, what is written or why nothing is.
    QString Cell(int row, int column) const;

  protected:
    // The error box for a script that could not be written.
    virtual void ReportWriteFailure();

  private:
    void OnWrite();

    QLabel m_heading;
    QTableWidget m_table;
    QPushButton m_write;
    QPushButton m_cancel;
    std::string m_scriptPath;
    std::string m_scriptText;
    std::vector<SyncResult> m_results;
};

}  // namespace zorvo
