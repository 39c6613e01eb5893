#include "cli/Completion.h"

#include "cli/CliOptions.h"
#include "protocol/fields/PresetFields.h"
#include "protocol/fields/SystemSettings.h"

namespace {

std::string Words(const qz::CItemList& items) {
    std::string s;
    for (int i = 0; i < items.nCount; ++i) s += (i ? " " : "") + qz::ItemText(items, i);
    return s;
}

// A shell word list in single quotes (the values hold no quote).
std::string Quoted(const std::string& s) { return "'" + s + "'"; }

// The function body that prints the values of each name: case NAME) echo VALUES.
std::string ValueCases(const std::vector<std::pair<std::string, std::string>>& namesValues) {
    std::string s = "    case $1 in\n";
    for (auto& [name, values] : namesValues) s += "    " + name + ") echo " + Quoted(values) + " ;;\n";
    return s + "    esac\n";
}

}  // namespace

std::string qz::BashCompletion() {
    std::string commands, globals, valueOptions;
    for (const CCliCommand& c : kCliCommands) commands += (commands.empty() ? "" : " ") + std::string(c.pszName);
    std::string commandOptions = "    case $1 in\n";
    for (const CCliCommand& c : kCliCommands) {
        std::string own;
        for (const CCliOption& o : kCliOptions)
            if (OptionBelongsTo(o, c.pszName)) own += (own.empty() ? "" : " ") + std::string(o.pszName);
        if (!own.empty()) commandOptions += "    " + std::string(c.pszName) + ") echo " + Quoted(own) + " ;;\n";
    }
    commandOptions += "    esac\n";
    std::string choices = "    case $1 in\n";
    for (const CCliOption& o : kCliOptions) {
        if (!o.pszCommand) globals += (globals.empty() ? "" : " ") + std::string(o.pszName);
        if (o.pszValue) valueOptions += (valueOptions.empty() ? "" : "|") + std::string(o.pszName);
        if (o.pszChoices) choices += "    " + std::string(o.pszName) + ") echo " + Quoted(o.pszChoices) + " ;;\n";
    }
    choices += "    esac\n";

    std::vector<std::pair<std::string, std::string>> settings, fields;
    std::string settingNames, fieldNames;
    for (const qz::CSystemSetting& s : qz::kSystemSettings) {
        settings.emplace_back(s.pszName, Words(s.names));
        settingNames += (settingNames.empty() ? "" : " ") + std::string(s.pszName);
    }
    for (const qz::CPresetList& l : qz::kPresetLists) {
        fields.emplace_back(l.pszName, Words(l.items));
        fieldNames += (fieldNames.empty() ? "" : " ") + std::string(l.pszName);
    }
    for (const qz::CPresetHexField& h : qz::kPresetHexFields) fieldNames += " " + std::string(h.pszName);

    return "# bash completion for qz81kt; made by \"qz81kt completion bash\" from its own tables\n"
           "_qz81kt_command_options() {\n" + commandOptions + "}\n"
           "_qz81kt_choices() {\n" + choices + "}\n"
           "_qz81kt_setting_values() {\n" + ValueCases(settings) + "}\n"
           "_qz81kt_field_values() {\n" + ValueCases(fields) + "}\n"
           R"SH(# Port numbers and names of one side ("input" or "output"), asked of the program with
# the --api and --emulate already typed.
_qz81kt_ports() {
    local side=$1 i args=()
    for ((i = 1; i < ${#COMP_WORDS[@]}; i++)); do
        case ${COMP_WORDS[i]} in
        --emulate) args+=(--emulate) ;;
        --api) args+=(--api "${COMP_WORDS[i + 1]}") ;;
        esac
    done
    "${COMP_WORDS[0]}" "${args[@]}" ports 2>/dev/null | awk -v side="MIDI $side ports:" '
        /^MIDI / { on = ($0 == side); next }
        on && /^ [* ] [0-9]+: / { sub(/^ [* ] /, ""); n = $0; sub(/:.*/, "", n); sub(/^[0-9]+: /, ""); print n; print }'
}
# Replies for the part of the word after the last character that bash splits words at.
_qz81kt_reply() {
    local cur=$1 word keep=""
    shift
    [[ $COMP_WORDBREAKS == *:* && $cur == *:* ]] && keep=${cur%"${cur##*:}"}
    [[ $COMP_WORDBREAKS == *=* && $cur == *=* ]] && keep=${cur%"${cur##*=}"}
    COMPREPLY=()
    while IFS= read -r word; do
        [[ -n $word && $word == "$cur"* ]] || continue
        word=${word#"$keep"}
        COMPREPLY+=("$(printf '%q' "$word")")
    done < <(printf '%s\n' "$@")
}
_qz81kt() {
    local line=${COMP_LINE:0:COMP_POINT} cur prev before cmd="" nargs=0 i w skip=0
    cur=${line##*[[:space:]]}
    before=${line%"$cur"}
    before=${before%"${before##*[![:space:]]}"}
    prev=${before##*[[:space:]]}
    local -a toks
    read -r -a toks <<<"$before"
    for ((i = 1; i < ${#toks[@]}; i++)); do
        w=${toks[i]}
        if ((skip)); then skip=0; continue; fi
        case $w in
        )SH" + valueOptions + R"SH() skip=1 ;;
        -*) ;;
        *) if [[ -z $cmd ]]; then cmd=$w; else nargs=$((nargs + 1)); fi ;;
        esac
    done
    case $prev in
    --in | --out)
        local side=input
        [[ $prev == --out ]] && side=output
        mapfile -t w < <(_qz81kt_ports $side)
        _qz81kt_reply "$cur" "${w[@]}"
        return ;;
    )SH" + valueOptions + R"SH()
        mapfile -t w < <(_qz81kt_choices "$prev" | tr ' ' '\n')
        _qz81kt_reply "$cur" "${w[@]}"
        return ;;
    esac
    if [[ $cur == -* ]]; then
        mapfile -t w < <(printf '%s\n' )SH" + globals + R"SH( $(_qz81kt_command_options "$cmd"))
        _qz81kt_reply "$cur" "${w[@]}"
        return
    fi
    if [[ -z $cmd ]]; then
        _qz81kt_reply "$cur" )SH" + commands + R"SH(
        return
    fi
    case $cmd in
    set | preset)
        if [[ $cmd == preset && $nargs == 0 ]]; then
            _qz81kt_reply "$cur" 0 1 2 3 4 5 6 7
        elif [[ $cur == *=* ]]; then
            local fn=_qz81kt_setting_values
            [[ $cmd == preset ]] && fn=_qz81kt_field_values
            mapfile -t w < <($fn "${cur%%=*}" | tr ' ' '\n' | sed "s|^|${cur%%=*}=|")
            _qz81kt_reply "$cur" "${w[@]}"
        else
            local names=")SH" + settingNames + R"SH("
            [[ $cmd == preset ]] && names=")SH" + fieldNames + R"SH("
            mapfile -t w < <(printf '%s=\n' $names)
            _qz81kt_reply "$cur" "${w[@]}"
            compopt -o nospace 2>/dev/null
        fi ;;
    get) _qz81kt_reply "$cur" )SH" + settingNames + R"SH( ;;
    export | import | diff) mapfile -t COMPREPLY < <(compgen -f -- "$cur") ;;
    completion) _qz81kt_reply "$cur" bash ;;
    esac
}
complete -F _qz81kt qz81kt
)SH";
}
