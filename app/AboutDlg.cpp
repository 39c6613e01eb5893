#include "app/AboutDlg.h"

#include "ui_AboutDlg.h"

CAboutDlg::CAboutDlg(const QString& strVersionText, QWidget* pParent)
    : QDialog(pParent), m_pUi(std::make_unique<Ui::CAboutDlg>()) {
    m_pUi->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    m_pUi->IDC_ABOUT_VERSION->setText(strVersionText);
}

CAboutDlg::~CAboutDlg() = default;
