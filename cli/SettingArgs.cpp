#include "cli/SettingArgs.h"

#include <algorithm>
#include <cctype>

#include "protocol/fields/PresetBlock.h"

namespace {

using qz::CSystemSetting;

std::string SettingNames() {
    std::string s;
    for (const CSystemSetting& c : qz::kSystemSettings) s += (s.empty() ? "" : ", ") + std::string(c.pszName);
    return s;
}

std::string ItemsOf(const qz::CItemList& items, const char* pszSeparator = ", ") {
    std::string s;
    for (int i = 0; i < items.nCount; ++i) s += (i ? pszSeparator : "") + qz::ItemText(items, i);
    return s;
}

std::string PresetFieldNames() {
    std::string s;
    for (const qz::CPresetList& l : qz::kPresetLists) s += (s.empty() ? "" : ", ") + std::string(l.pszName);
    for (const qz::CPresetHexField& h : qz::kPresetHexFields) s += ", " + std::string(h.pszName);
    return s;
}

bool SplitPair(const std::string& strArg, std::string& strName, std::string& strValue) {
    const size_t eq = strArg.find('=');
    if (eq == std::string::npos) return false;
    strName = strArg.substr(0, eq);
    strValue = strArg.substr(eq + 1);
    return true;
}

bool SameLetters(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// One to four hexadecimal digits, with or without "0x": the field's 16 bits. The
// editor's own reading takes any text; a script's typing mistake should not become 0.
bool ParseHex16(const std::string& s, int& nOut) {
    std::string digits = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X') ? s.substr(2) : s;
    if (digits.empty() || digits.size() > 4 || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return false;
    nOut = static_cast<int>(qz::ReadHexNumber(digits));
    return true;
}

}  // namespace

bool qz::ParseSettingChoices(const std::vector<std::string>& args, std::vector<CSettingChoice>& out,
                         std::string& strError) {
    out.clear();
    for (const std::string& a : args) {
        std::string name, value;
        const CSystemSetting* p = SplitPair(a, name, value) ? qz::FindSystemSetting(name) : nullptr;
        if (!p) {
            strError = "unknown setting '" + a + "'; give NAME=VALUE with NAME one of " + SettingNames();
            return false;
        }
        const int n = qz::FindSettingValue(*p, value);
        if (n == qz::kNoSelection) {
            strError = name + " takes " + qz::SettingValueList(*p) + " (not '" + value + "')";
            return false;
        }
        for (const CSettingChoice& c : out)
            if (c.pSetting == p) {
                strError = name + " is given twice";
                return false;
            }
        out.push_back({p, n});
    }
    return true;
}

bool qz::ParseSettingNames(const std::vector<std::string>& args, std::vector<const CSystemSetting*>& out,
                       std::string& strError) {
    out.clear();
    for (const std::string& a : args) {
        const CSystemSetting* p = qz::FindSystemSetting(a);
        if (!p) {
            strError = "unknown setting '" + a + "'; settings: " + SettingNames();
            return false;
        }
        out.push_back(p);
    }
    if (out.empty())
        for (const CSystemSetting& c : qz::kSystemSettings) out.push_back(&c);
    return true;
}

bool qz::ParsePresetArgs(const std::vector<std::string>& args, int& nPreset, std::vector<CPresetFieldChoice>& out,
                     std::string& strError) {
    out.clear();
    if (args.empty() || args[0].size() != 1 || args[0][0] < '0' || args[0][0] >= '0' + qz::kPresetCount) {
        strError = "preset needs a preset number 0-7 first" + (args.empty() ? "" : " (not '" + args[0] + "')");
        return false;
    }
    nPreset = args[0][0] - '0';
    for (size_t i = 1; i < args.size(); ++i) {
        std::string name, value;
        if (!SplitPair(args[i], name, value)) name = args[i];
        CPresetFieldChoice choice{false, -1, 0};
        for (int e = 0; e < qz::kPresetListCount; ++e)
            if (name == qz::kPresetLists[e].pszName) choice = {false, e, 0};
        for (int e = 0; e < qz::kPresetHexCount; ++e)
            if (name == qz::kPresetHexFields[e].pszName) choice = {true, e, 0};
        if (choice.nField < 0 || args[i].find('=') == std::string::npos) {
            strError = "unknown preset field '" + args[i] + "'; give FIELD=VALUE with FIELD one of " +
                       PresetFieldNames();
            return false;
        }
        if (choice.bHex) {
            if (!ParseHex16(value, choice.nValue)) {
                strError = name + " takes one to four hexadecimal digits (not '" + value + "')";
                return false;
            }
        } else {
            const qz::CItemList& items = qz::kPresetLists[choice.nField].items;
            choice.nValue = qz::kNoSelection;
            for (int k = 0; k < items.nCount; ++k)
                if (SameLetters(qz::ItemText(items, k), value)) choice.nValue = k;
            if (choice.nValue == qz::kNoSelection) {
                strError = name + " takes " + ItemsOf(items) + " (not '" + value + "')";
                return false;
            }
        }
        for (const CPresetFieldChoice& c : out)
            if (c.bHex == choice.bHex && c.nField == choice.nField) {
                strError = name + " is given twice";
                return false;
            }
        out.push_back(choice);
    }
    return true;
}

std::string qz::SettingValueText(const CSystemSetting& setting, uint8_t byValue) {
    const int i = qz::SettingValueIndex(setting, byValue);
    return i == qz::kNoSelection ? "?(" + std::to_string(byValue) + ")" : qz::ItemText(setting.names, i);
}

std::string qz::SettingText(const CSystemSetting& setting, const uint8_t (&system)[qz::kSystemSize]) {
    return std::string(setting.pszName) + "=" + SettingValueText(setting, system[setting.nOffset]);
}

std::string qz::PresetFieldName(bool bHex, int nField) {
    return bHex ? qz::kPresetHexFields[nField].pszName : qz::kPresetLists[nField].pszName;
}

std::string qz::PresetFieldText(const CPresetFieldChoice& field, const uint8_t (&block)[qz::kPresetSize],
                            bool bLowLatencyAvail) {
    if (field.bHex) return qz::FormatHex16(qz::PresetHexValue(static_cast<qz::EPresetHex>(field.nField), block));
    const auto e = static_cast<qz::EPresetList>(field.nField);
    const qz::CPresetList& l = qz::kPresetLists[e];
    const int n = qz::PresetListIndex(e, block, qz::PresetListItemCount(e, bLowLatencyAvail));
    if (n != qz::kNoSelection) return qz::ItemText(l.items, n);
    return "?(" + std::to_string(l.nBytes == 4 ? qz::Read16(block, l.nOffset) : qz::Read8(block, l.nOffset)) + ")";
}

std::string qz::SettingsListText() {
    std::string s;
    for (const CSystemSetting& c : qz::kSystemSettings) {
        std::string name = c.pszName;
        name.resize(14, ' ');
        s += name + qz::SettingValueList(c, " | ") + "   (" + c.pszCaption + ")\n";
    }
    return s;
}

std::string qz::PresetFieldsListText() {
    std::string s;
    auto caption = [](const char* pszGroup, const char* pszLabel) {
        return *pszGroup ? std::string(pszGroup) + " " + pszLabel : std::string(pszLabel);
    };
    for (const qz::CPresetList& l : qz::kPresetLists) {
        std::string name = l.pszName;
        name.resize(12, ' ');
        std::string values = l.items.eStyle == qz::EItemStyle::Decimal
                                 ? qz::ItemText(l.items, 0) + ".." + qz::ItemText(l.items, l.items.nCount - 1)
                                 : ItemsOf(l.items, " | ");
        s += name + values + "   (" + caption(l.pszGroup, l.pszLabel) + ")\n";
    }
    for (const qz::CPresetHexField& h : qz::kPresetHexFields) {
        std::string name = h.pszName;
        name.resize(12, ' ');
        s += name + "0000..ffff   (" + caption(h.pszGroup, h.pszLabel) + ")\n";
    }
    return s;
}
