#include "ui/StoryboardDlg.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QVBoxLayout>

#include "common/LogChannel.h"
#include "common/PathName.h"
#include "render/Storyboard.h"

namespace zorvo {

namespace {

// The sheet's bottom-up BGR rows as a top-down image.
QImage ToImage(const FrameBitmap& sheet) {
    const QImage bottomUp(sheet.Bits(), sheet.Width(), sheet.Height(),
                          static_cast<qsizetype>(sheet.Stride()), QImage::Format_BGR888);
    return bottomUp.mirrored(false, true);  // a deep copy
}

}  // namespace

CStoryboardDlg::CStoryboardDlg(QWidget* owner, const QString& scriptPath, FrameBitmap sheet,
                               ReadFiles filesRead)
    : QDialog(owner, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint),
      m_scriptPath(scriptPath),
      m_sheet(std::move(sheet)),
      m_filesRead(std::move(filesRead)) {
    setObjectName(QStringLiteral("storyboardWindow"));
    setWindowTitle(QStringLiteral("Zorvo - Storyboard - %1").arg(QFileInfo(scriptPath).fileName()));

    m_picture.setObjectName(QStringLiteral("sheet"));
    m_picture.setPixmap(QPixmap::fromImage(ToImage(m_sheet)));
    m_scroll.setWidget(&m_picture);
    m_scroll.setAlignment(Qt::AlignCenter);
    m_scroll.setBackgroundRole(QPalette::Dark);

    m_save.setObjectName(QStringLiteral("save"));
    m_save.setText(QStringLiteral("Save..."));
    m_save.setAutoDefault(false);
    connect(&m_save, &QPushButton::clicked, this, [this] {
        const QString path = ChooseSaveFile();
        if (!path.isEmpty()) {
            Save(path);
        }
    });
    m_close.setText(QStringLiteral("Close"));
    connect(&m_close, &QPushButton::clicked, this, &QDialog::close);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(&m_save);
    buttons->addWidget(&m_close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(&m_scroll, 1);
    layout->addLayout(buttons);

    // As large as the sheet, within most of the screen.
    QSize size(m_sheet.Width() + 40, m_sheet.Height() + 80);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        size = size.boundedTo(screen->availableSize() * 0.85);
    }
    resize(size);
}

QString CStoryboardDlg::ChooseSaveFile() {
    // The name `zorvo storyboard` writes by default.
    const QString suggested = QFile::decodeName(
        ReplaceExtension(QFile::encodeName(m_scriptPath).toStdString(), ".storyboard.png").c_str());
    return QFileDialog::getSaveFileName(this, QStringLiteral("Save storyboard"), suggested,
                                        QStringLiteral("PNG images (*.png)"));
}

bool CStoryboardDlg::Save(const QString& path) {
    const std::string file = QFile::encodeName(path).toStdString();
    if (!CheckWrittenFile(m_filesRead, file, WrittenFile::Storyboard) || !WritePng(m_sheet, file)) {
        return false;
    }
    PostLog(Format("Storyboard written to %s (%ix%i).\n", file.c_str(), m_sheet.Width(),
                   m_sheet.Height()));
    return true;
}

}  // namespace zorvo
