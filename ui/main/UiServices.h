#pragma once
// Everything the interface shows or waits for outside its own windows: message boxes,
// the Yes/No question, file dialogs, the wait cursor, the pause after a factory reset
// and the modal run of a dialog. One replaceable object, so that tests answer them
// without a modal loop.
#include <QString>

class QDialog;
class QWidget;

class CUiServices {
public:
    virtual ~CUiServices();

    // A modal box with one OK button and the given text, exactly as given.
    virtual void MessageBox(QWidget* pParent, const QString& strText);
    // A modal Yes/No question; true for Yes.
    virtual bool AskYesNo(QWidget* pParent, const QString& strText);
    // File dialogs (never the platform's native ones). strFilter is a Qt filter such as
    // "txt (*.txt)"; strSuffix is added to a name typed without one. The save dialog asks
    // before overwriting; the open dialog takes only existing files. Empty: cancelled.
    virtual QString SaveFileName(QWidget* pParent, const QString& strFilter, const QString& strSuffix);
    virtual QString OpenFileName(QWidget* pParent, const QString& strFilter, const QString& strSuffix);
    // The wait cursor, counted: shown from the first Begin to the matching End.
    virtual void BeginWaitCursor();
    virtual void EndWaitCursor();
    // Blocks the calling (interface) thread for nMs milliseconds.
    virtual void Pause(int nMs);
    // Runs a dialog modally and returns its result (QDialog::Accepted or Rejected).
    virtual int ExecDialog(QDialog& dlg);
};

namespace qz {
// The services in use: the built-in ones unless a test installed others (not owned;
// null restores the built-in ones).
CUiServices& UiServices();
void SetUiServices(CUiServices* pServices);
}  // namespace qz

// Shows the wait cursor for the lifetime of the object.
class CWaitCursor {
public:
    CWaitCursor() { qz::UiServices().BeginWaitCursor(); }
    ~CWaitCursor() { qz::UiServices().EndWaitCursor(); }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
};
