#include "server/ember/GlowValue.h"

namespace qz::ember {

void WriteGlowValue(CBerWriter& writer, const CGlowValue& value) {
    if (const auto* pn = std::get_if<int64_t>(&value)) {
        writer.WriteInteger(*pn);
    } else if (const auto* pd = std::get_if<double>(&value)) {
        writer.WriteReal(*pd);
    } else if (const auto* pb = std::get_if<bool>(&value)) {
        writer.WriteBoolean(*pb);
    } else if (const auto* pstr = std::get_if<std::string>(&value)) {
        writer.WriteUtf8(*pstr);
    } else {
        writer.WriteNull();
    }
}

bool ReadGlowValue(const CBerElement& element, CGlowValue& value) {
    int64_t n = 0;
    double d = 0;
    bool b = false;
    std::string str;
    if (ReadInteger(element, n)) {
        value = n;
    } else if (ReadReal(element, d)) {
        value = d;
    } else if (ReadBoolean(element, b)) {
        value = b;
    } else if (ReadUtf8(element, str)) {
        value = std::move(str);
    } else {
        value = std::monostate{};
        return false;
    }
    return true;
}

}  // namespace qz::ember
