#pragma once
// A small JSON text builder for the command line's --json output.
#include <cstdint>
#include <string>

class CJsonWriter {
public:
    void BeginObject();
    void EndObject();
    void BeginArray();
    void EndArray();
    void Key(const std::string& strKey);
    void String(const std::string& str);
    void Number(long long n);
    void Bool(bool b);
    void Bytes(const uint8_t* pData, size_t n);  // an array of numbers
    const std::string& Text() const { return m_str; }

    static std::string Escape(const std::string& str);

private:
    void Separate();
    std::string m_str;
    bool m_bNeedComma = false;
};
