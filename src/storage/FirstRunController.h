#pragma once

#include <QDialog>

namespace qm {

class NewOrvaneFolderController;

// The panel shown at the first start: create a gallery, open one, or quit.
class FirstRunController : public QDialog
{
    Q_OBJECT
public:
    FirstRunController(NewOrvaneFolderController *ctlNewOrvaneFolder, QWidget *win);

signals:
    void galleryChosen(const QString &path);
    void quitRequested();

public slots:
    void clickedCreateNew();
    void clickedOpen();
    void clickedQuit();
    void clickedHelp();
    void reject() override;

private:
    NewOrvaneFolderController *m_ctlNewOrvaneFolder;
};

} // namespace qm
