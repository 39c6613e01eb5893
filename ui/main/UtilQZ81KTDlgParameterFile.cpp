// Main window: export and import of the parameter file (reached from the service dialog).
// The file work is the core's, shared with the command line; this side asks for the file,
// shows the wait cursor and tells the operator what went wrong.
#include <QFile>

#include "protocol/device/ParameterTransfer.h"
#include "ui/main/UiServices.h"
#include "ui/main/UtilQZ81KTDlg.h"

namespace {

const QString kFileFilter = QStringLiteral("txt (*.txt)");
const QString kFileSuffix = QStringLiteral("txt");

// The core's texts start in lower case, as the command line prints them after its name.
QString Sentence(const std::string& str) {
    QString s = QString::fromStdString(str);
    if (!s.isEmpty()) s[0] = s[0].toUpper();
    return s;
}

}  // namespace

void CUtilQZ81KTDlg::OnParameterExport() {
    if (!CheckLinkUp()) return;
    const QString strPath = qz::UiServices().SaveFileName(this, kFileFilter, kFileSuffix);
    if (strPath.isEmpty()) return;
    CWaitCursor wait;
    const std::string strFile = QFile::encodeName(strPath).toStdString();
    const CExportResult r = qz::ExportParameterFile(m_session.Image(), strFile, m_strFileVersion.toStdString());
    // A file missing blocks, or one that was not written, must not pass for a saved one.
    if (r.m_eStatus != CExportResult::EStatus::Ok) ShowMessage(Sentence(qz::ExportFailureText(r, strFile)));
}

void CUtilQZ81KTDlg::OnParameterImport() {
    if (!CheckLinkUp()) return;
    const QString strPath = qz::UiServices().OpenFileName(this, kFileFilter, kFileSuffix);
    if (strPath.isEmpty()) return;
    CWaitCursor wait;
    const std::string strFile = QFile::encodeName(strPath).toStdString();
    const CImportResult r = qz::ImportParameterFile(*this, strFile);
    switch (r.m_eStatus) {
        case CImportResult::EStatus::Ok: break;
        case CImportResult::EStatus::CannotRead: ShowMessage(Sentence(qz::ReadFailureText(strFile, r.m_strReason))); break;
        case CImportResult::EStatus::RequestRefused: ShowMessage(QString::fromLatin1(kImportRequestRefusedText)); break;
    }
}
