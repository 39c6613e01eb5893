#pragma once
// An initialisation (profile) file held as its text: sections in square brackets and
// "key=value" lines. Reading and writing follow the platform's profile functions:
// - writing a key replaces its line in place, adds the key after the last key of its
//   section when the section exists, and appends the section at the end otherwise;
//   every other line stays exactly as it was, and written lines end with CR LF;
// - section and key names match without regard to (ASCII) case; the first match counts;
// - blanks around a value are ignored when reading; a missing key reads as the default.
// Lines longer than kMaxLineBytes are kept but never read as a section or a key, so no
// single line costs more than that to interpret. Every operation is one pass over the text.
#include <cstddef>
#include <string>
#include <string_view>

class CProfileText {
public:
    static constexpr size_t kMaxLineBytes = 4096;

    CProfileText() = default;
    explicit CProfileText(std::string text) : m_strText(std::move(text)) {}

    // The value of key in section, blanks around it removed, cut to nBufferSize - 1
    // characters like a read into a buffer of that size; strDefault when there is none.
    std::string GetString(std::string_view section, std::string_view key, std::string_view strDefault,
                          size_t nBufferSize) const;

    // Writes key=value into section. False, and nothing changed, when a name is empty or
    // either name or the value could not be read back as written (a line break, "]" in a
    // section name, "=" in a key, blanks around a name or a key that looks like a section
    // or a comment).
    bool SetString(std::string_view section, std::string_view key, std::string_view value);

    const std::string& Text() const { return m_strText; }

private:
    struct CFound {
        size_t nSectionEnd = std::string::npos;  // where a key is added: after the section's last key
        size_t nKeyLine = std::string::npos;     // start of the key's line
        size_t nKeyLineEnd = 0;                  // after its line end
        std::string_view keyName;                // the key as the file spells it
        std::string_view value;                  // blanks removed
    };
    // Finds section and key; nSectionEnd stays npos when the section is absent.
    CFound Find(std::string_view section, std::string_view key) const;
    // Inserts a whole line (text + CR LF) at nPos, ending the line before it first when
    // the text has no line end there.
    void InsertLine(size_t nPos, std::string_view line);

    std::string m_strText;
};
