#pragma once

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QString>

#include "check/WrittenFiles.h"
#include "common/FrameBitmap.h"

namespace zorvo {

// A script's storyboard sheet in a scrollable window, with a button to save it as PNG.
class CStoryboardDlg : public QDialog {
    Q_OBJECT

  public:
    // `filesRead`: the files the storyboard's run read, which Save refuses to write over.
    CStoryboardDlg(QWidget* owner, const QString& scriptPath, FrameBitmap sheet,
                   ReadFiles filesRead = {});

    // Writes the sheet to `path` as PNG; false after a log line.
    bool Save(const QString& path);
    const FrameBitmap& Sheet() const { return m_sheet; }

  protected:
    // The file dialog of Save...; empty when cancelled.
    virtual QString ChooseSaveFile();

  private:
    QString m_scriptPath;
    FrameBitmap m_sheet;
    ReadFiles m_filesRead;
    QScrollArea m_scroll;
    QLabel m_picture;
    QPushButton m_save;
    QPushButton m_close;
};

}  // namespace zorvo
