#include "cli/JsonWriter.h"

#include <cstdio>

void CJsonWriter::Separate() {
    if (m_bNeedComma) m_str += ',';
    m_bNeedComma = false;
}

void CJsonWriter::BeginObject() {
    Separate();
    m_str += '{';
}

void CJsonWriter::EndObject() {
    m_str += '}';
    m_bNeedComma = true;
}

void CJsonWriter::BeginArray() {
    Separate();
    m_str += '[';
}

void CJsonWriter::EndArray() {
    m_str += ']';
    m_bNeedComma = true;
}

void CJsonWriter::Key(const std::string& strKey) {
    Separate();
    m_str += Escape(strKey);
    m_str += ':';
}

void CJsonWriter::String(const std::string& str) {
    Separate();
    m_str += Escape(str);
    m_bNeedComma = true;
}

void CJsonWriter::Number(long long n) {
    Separate();
    m_str += std::to_string(n);
    m_bNeedComma = true;
}

void CJsonWriter::Bool(bool b) {
    Separate();
    m_str += b ? "true" : "false";
    m_bNeedComma = true;
}

void CJsonWriter::Bytes(const uint8_t* pData, size_t n) {
    BeginArray();
    for (size_t i = 0; i < n; ++i) Number(pData[i]);
    EndArray();
}

std::string CJsonWriter::Escape(const std::string& str) {
    std::string out = "\"";
    for (unsigned char c : str) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c >= 0x7F) {
                    // Device text is 7-bit; anything else is shown as a code, never raw.
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
    return out;
}
