#pragma once
// The About box (template 140): the program's name and "Version : " with its version.
#include <QDialog>
#include <memory>

namespace Ui {
class CAboutDlg;
}

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(const QString& strVersionText, QWidget* pParent = nullptr);
    ~CAboutDlg() override;

private:
    std::unique_ptr<Ui::CAboutDlg> m_pUi;
};
