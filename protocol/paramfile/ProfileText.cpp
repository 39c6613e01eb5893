#include "protocol/paramfile/ProfileText.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

bool IsTrimmedName(std::string_view s) { return !s.empty() && !IsBlank(s.front()) && !IsBlank(s.back()); }

}  // namespace

CProfileText::CFound CProfileText::Find(std::string_view section, std::string_view key) const {
    CFound f;
    const std::string_view text = m_strText;
    bool bInSection = false;
    for (size_t start = 0; start < text.size();) {
        size_t lf = text.find('\n', start);
        size_t next = lf == std::string_view::npos ? text.size() : lf + 1;
        size_t len = (lf == std::string_view::npos ? text.size() : lf) - start;
        std::string_view line = text.substr(start, len);
        size_t lineStart = start;
        start = next;
        if (len > kMaxLineBytes) continue;
        std::string_view v = Trim(line);
        if (!v.empty() && v.front() == '[') {
            size_t close = v.find(']');
            if (close != std::string_view::npos) {
                if (bInSection) break;  // the next section begins
                if (SameName(Trim(v.substr(1, close - 1)), section)) {
                    bInSection = true;
                    f.nSectionEnd = next;
                }
                continue;
            }
        }
        if (!bInSection || v.empty() || v.front() == ';') continue;
        size_t eq = v.find('=');
        if (eq == std::string_view::npos) continue;
        f.nSectionEnd = next;
        if (SameName(Trim(v.substr(0, eq)), key)) {
            f.nKeyLine = lineStart;
            f.nKeyLineEnd = next;
            f.keyName = Trim(v.substr(0, eq));
            f.value = Trim(v.substr(eq + 1));
            break;
        }
    }
    return f;
}

std::string CProfileText::GetString(std::string_view section, std::string_view key, std::string_view strDefault,
                                    size_t nBufferSize) const {
    CFound f = Find(section, key);
    std::string_view v = f.nKeyLine != std::string::npos ? f.value : strDefault;
    if (nBufferSize == 0) return {};
    return std::string(v.substr(0, nBufferSize - 1));
}

void CProfileText::InsertLine(size_t nPos, std::string_view line) {
    std::string s;
    if (nPos > 0 && m_strText[nPos - 1] != '\n') s = "\r\n";  // the last line had no end
    s.append(line);
    s += "\r\n";
    m_strText.insert(nPos, s);
}

bool CProfileText::SetString(std::string_view section, std::string_view key, std::string_view value) {
    if (!IsTrimmedName(section) || HasLineBreak(section) || section.find(']') != std::string_view::npos) return false;
    if (!IsTrimmedName(key) || HasLineBreak(key) || key.find('=') != std::string_view::npos || key.front() == '[' ||
        key.front() == ';')
        return false;
    if (HasLineBreak(value)) return false;
    CFound f = Find(section, key);
    if (f.nKeyLine != std::string::npos) {
        std::string line(f.keyName);  // the file's spelling of the key
        line += '=';
        line.append(value);
        line += "\r\n";
        m_strText.replace(f.nKeyLine, f.nKeyLineEnd - f.nKeyLine, line);
        return true;
    }
    std::string line(key);
    line += '=';
    line.append(value);
    if (f.nSectionEnd != std::string::npos) {
        InsertLine(f.nSectionEnd, line);
        return true;
    }
    InsertLine(m_strText.size(), "[" + std::string(section) + "]");
    InsertLine(m_strText.size(), line);
    return true;
}
