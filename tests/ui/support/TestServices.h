#pragma once
// Answers the interface's message boxes, questions, pauses and modal runs without a
// modal loop, and records them.
#include <QStringList>
#include <functional>
#include <vector>

#include "ui/main/UiServices.h"

class CTestServices : public CUiServices {
public:
    CTestServices() { qz::SetUiServices(this); }
    ~CTestServices() override { qz::SetUiServices(nullptr); }

    void MessageBox(QWidget*, const QString& strText) override { m_messages << strText; }
    bool AskYesNo(QWidget*, const QString& strText) override {
        m_questions << strText;
        return m_bAnswerYes;
    }
    // The file dialogs return m_strFileAnswer (empty: cancelled) and record what they were asked.
    QString SaveFileName(QWidget*, const QString& strFilter, const QString& strSuffix) override {
        return AnswerFile("save", strFilter, strSuffix);
    }
    QString OpenFileName(QWidget*, const QString& strFilter, const QString& strSuffix) override {
        return AnswerFile("open", strFilter, strSuffix);
    }
    void BeginWaitCursor() override { ++m_nWaitDepth, ++m_nWaitCursors; }
    void EndWaitCursor() override { --m_nWaitDepth; }
    // A pause returns at once; m_fnOnPause stands for what the real time would let happen.
    void Pause(int nMs) override {
        m_pauses.push_back(nMs);
        m_nWaitDepthAtPause = m_nWaitDepth;
        if (m_fnOnPause) m_fnOnPause();
    }
    int ExecDialog(QDialog& dlg) override {
        ++m_nDialogs;
        if (m_fnOnDialog) m_fnOnDialog(dlg);
        return 0;
    }

    QStringList m_messages;
    QStringList m_fileDialogs;  // "save txt (*.txt) txt"
    QString m_strFileAnswer;
    int m_nWaitDepthAtFileDialog = -1;
    QStringList m_questions;
    bool m_bAnswerYes = false;
    int m_nWaitDepth = 0;
    int m_nWaitCursors = 0;
    int m_nWaitDepthAtPause = -1;
    std::vector<int> m_pauses;
    std::function<void()> m_fnOnPause;
    int m_nDialogs = 0;
    std::function<void(QDialog&)> m_fnOnDialog;

private:
    QString AnswerFile(const char* pszKind, const QString& strFilter, const QString& strSuffix) {
        m_fileDialogs << QString::fromLatin1(pszKind) + ' ' + strFilter + ' ' + strSuffix;
        m_nWaitDepthAtFileDialog = m_nWaitDepth;
        return m_strFileAnswer;
    }
};
