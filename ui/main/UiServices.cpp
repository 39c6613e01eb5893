#include "ui/main/UiServices.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QThread>

namespace {
const char* const kBoxTitle = "QZ-81KT DXP";
CUiServices g_builtIn;
CUiServices* g_pServices = nullptr;

QString RunFileDialog(QWidget* pParent, QFileDialog::AcceptMode eMode, const QString& strFilter,
                      const QString& strSuffix) {
    QFileDialog dlg(pParent);
    dlg.setOption(QFileDialog::DontUseNativeDialog);
    dlg.setAcceptMode(eMode);
    dlg.setFileMode(eMode == QFileDialog::AcceptSave ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dlg.setNameFilter(strFilter);
    dlg.setDefaultSuffix(strSuffix);
    if (eMode == QFileDialog::AcceptOpen) dlg.setOption(QFileDialog::ReadOnly);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return QString();
    return dlg.selectedFiles().front();
}
}  // namespace

CUiServices::~CUiServices() = default;

void CUiServices::MessageBox(QWidget* pParent, const QString& strText) {
    QMessageBox::warning(pParent, kBoxTitle, strText, QMessageBox::Ok);
}

bool CUiServices::AskYesNo(QWidget* pParent, const QString& strText) {
    return QMessageBox::question(pParent, kBoxTitle, strText, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
           QMessageBox::Yes;
}

QString CUiServices::SaveFileName(QWidget* pParent, const QString& strFilter, const QString& strSuffix) {
    return RunFileDialog(pParent, QFileDialog::AcceptSave, strFilter, strSuffix);
}

QString CUiServices::OpenFileName(QWidget* pParent, const QString& strFilter, const QString& strSuffix) {
    return RunFileDialog(pParent, QFileDialog::AcceptOpen, strFilter, strSuffix);
}

void CUiServices::BeginWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }

void CUiServices::EndWaitCursor() { QApplication::restoreOverrideCursor(); }

void CUiServices::Pause(int nMs) { QThread::msleep(static_cast<unsigned long>(nMs)); }

int CUiServices::ExecDialog(QDialog& dlg) { return dlg.exec(); }

CUiServices& qz::UiServices() { return g_pServices ? *g_pServices : g_builtIn; }

void qz::SetUiServices(CUiServices* pServices) { g_pServices = pServices; }
