#include "CliDocs.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <sstream>
#include <vector>

#include "AgentConfig.h"
#include "Output.h"

namespace svcsnap {

namespace {

// A command and the words that lead to it ("array add").
struct Command {
    std::string path;
    const CLI::App* app;
};

void collect(const CLI::App* app, const std::string& path, std::vector<Command>& out) {
    for (const CLI::App* sub : app->get_subcommands([](const CLI::App*) { return true; })) {
        const std::string subPath = path.empty() ? sub->get_name() : path + " " + sub->get_name();
        out.push_back({subPath, sub});
        collect(sub, subPath, out);
    }
}

std::vector<Command> commands(const CLI::App& app) {
    std::vector<Command> out;
    collect(&app, "", out);
    return out;
}

bool shown(const CLI::Option* o) { return !o->get_group().empty(); }
bool isHelp(const CLI::Option* o) {
    const auto& names = o->get_lnames();
    return std::find(names.begin(), names.end(), "help") != names.end();
}
bool takesValue(const CLI::Option* o) { return o->get_expected_max() > 0; }

std::vector<const CLI::Option*> namedOptions(const CLI::App* app, bool withHelp) {
    return app->get_options([&](const CLI::Option* o) {
        return o->nonpositional() && shown(o) && (withHelp || !isHelp(o));
    });
}

std::vector<const CLI::Option*> positionals(const CLI::App* app) {
    return app->get_options([](const CLI::Option* o) { return !o->nonpositional() && shown(o); });
}

// The value a named option takes, as the help writes it (TEXT, INT, ...).
std::string valueName(const CLI::Option* o) {
    std::string type = o->get_type_name();
    return type.substr(0, type.find(':'));
}

// ------------------------------------------------------------------ roff

std::string roff(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\e";
        else if (c == '-')
            out += "\\-";
        else
            out += c;
    }
    if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
    return out;
}

std::string optionNames(const CLI::Option* o) {
    std::string names;
    for (const auto& s : o->get_snames()) names += (names.empty() ? "" : ", ") + std::string("\\fB\\-") + s + "\\fR";
    for (const auto& l : o->get_lnames())
        names += (names.empty() ? "" : ", ") + std::string("\\fB\\-\\-") + roff(l) + "\\fR";
    if (takesValue(o)) names += " \\fI" + roff(valueName(o)) + "\\fR";
    return names;
}

std::string synopsisOf(const Command& c) {
    std::string text = "\\fBsvcsnap " + roff(c.path) + "\\fR";
    for (const CLI::Option* p : positionals(c.app)) {
        std::string name = "\\fI" + roff(p->get_name(true)) + "\\fR";
        if (p->get_expected_max() > 1) name += "...";
        text += " " + (p->get_required() ? name : "[" + name + "]");
    }
    if (!namedOptions(c.app, false).empty()) text += " [\\fIoptions\\fR]";
    return text;
}

// "  term   meaning", the meaning wrapped at 100 columns under itself.
std::string helpEntry(const std::string& term, const std::string& meaning, size_t width) {
    constexpr size_t kColumns = 100;
    const size_t indent = 2 + width;
    std::string out = "  " + term + std::string(term.size() < width ? width - term.size() : 1, ' ');
    size_t column = indent;
    std::istringstream words(meaning);
    std::string word;
    bool first = true;
    while (words >> word) {
        if (!first && column + 1 + word.size() > kColumns) {
            out += "\n" + std::string(indent, ' ');
            column = indent;
        } else if (!first) {
            out += ' ';
            ++column;
        }
        out += word;
        column += word.size();
        first = false;
    }
    return out + "\n";
}

}  // namespace

std::string helpFooter() {
    std::ostringstream out;
    out << "Exit status:\n";
    for (const auto& e : exitStatusTexts()) out << helpEntry(std::to_string(e.status), e.meaning, 5);
    out << "\nConfiguration keys of section [svcsnap] (an unknown key or section is an error):\n";
    for (const auto& k : AgentConfig::agentKeys()) out << helpEntry(k.key, k.meaning, 17);
    out << "Sections [HostModule] and [Platform] hold the engine's and the platform's settings, among them\n"
           "IBMSVC_SMIS_CA_FILE: the CAs that authenticate the provider over HTTPS.\n";
    return out.str();
}

std::string manualPage(const CLI::App& app, const std::string& version) {
    std::ostringstream out;
    out << ".TH SVCSNAP 1 \"\" \"" << roff(version) << "\" \"User Commands\"\n";
    out << ".SH NAME\nsvcsnap \\- the host agent of the IBM SVC snapshot engine\n";
    out << ".SH SYNOPSIS\n.B svcsnap\n[\\fIglobal options\\fR] \\fIcommand\\fR [\\fIarguments\\fR] [\\fIoptions\\fR]\n";
    out << ".SH DESCRIPTION\n" << roff(app.get_description()) << ".\n.PP\n"
        << "It keeps its arrays, jobs and the copies it knows in one SQLite catalogue and reads one INI file. "
           "A job is a named batch of devices, as this host names them or by volume unique id. "
           "The provider's password is read from standard input or an environment variable, never from the "
           "command line, and is never printed or logged.\n";
    out << ".SH GLOBAL OPTIONS\nThey may stand anywhere on the command line.\n";
    for (const CLI::Option* o : namedOptions(&app, true))
        out << ".TP\n" << optionNames(o) << "\n" << roff(o->get_description()) << "\n";
    out << ".SH COMMANDS\n";
    for (const Command& c : commands(app)) {
        out << ".SS \"" << c.path << "\"\n" << synopsisOf(c) << "\n.br\n" << roff(c.app->get_description()) << ".\n";
        for (const CLI::Option* p : positionals(c.app))
            out << ".TP\n\\fI" << roff(p->get_name(true)) << "\\fR\n" << roff(p->get_description()) << "\n";
        for (const CLI::Option* o : namedOptions(c.app, false))
            out << ".TP\n" << optionNames(o) << "\n" << roff(o->get_description()) << "\n";
    }
    out << ".SH EXIT STATUS\n";
    for (const auto& e : exitStatusTexts()) out << ".TP\n.B " << e.status << "\n" << roff(e.meaning) << "\n";
    out << ".PP\nA failing status comes with a one\\-line reason on standard error; with \\fB\\-\\-json\\fR "
           "the document on standard output carries it as \\fBerror\\fR and the status as \\fBexitStatus\\fR, "
           "usage errors included.\n";
    out << ".SH CONFIGURATION\nThe INI file is the one given with \\fB\\-\\-config\\fR, else "
           "\\fB$SVCSNAP_CONFIG\\fR, else \\fI~/.config/svcsnap/svcsnap.ini\\fR. Keys of section "
           "\\fB[svcsnap]\\fR:\n";
    for (const auto& k : AgentConfig::agentKeys()) out << ".TP\n.B " << k.key << "\n" << roff(k.meaning) << "\n";
    out << ".PP\nA key of [svcsnap] or a section not listed here is an error (exit status 78). Sections "
           "\\fB[HostModule]\\fR and \\fB[Platform]\\fR hold the engine's and the platform's settings; "
           "\\fBIBMSVC_SMIS_CA_FILE\\fR in [HostModule] names a PEM file or a hashed directory of CAs that "
           "authenticate the provider over HTTPS. Without it every certificate is accepted, and "
           "\\fBarray add\\fR warns so.\n";
    out << ".SH ENVIRONMENT\n"
        << ".TP\n.B SVCSNAP_CONFIG\nthe configuration file, when \\fB\\-\\-config\\fR is not given\n"
        << ".TP\n.B ZQ_TIME_SCALE\nreal seconds per engine second (default 1)\n"
        << ".TP\n.B XDG_CONFIG_HOME\\fR, \\fBXDG_DATA_HOME\nwhere the default configuration and catalogue lie\n";
    out << ".SH FILES\n"
        << ".TP\n.I ~/.config/svcsnap/svcsnap.ini\nthe configuration\n"
        << ".TP\n.I ~/.local/share/svcsnap/catalogue.db\nthe catalogue (mode 0600)\n";
    out << ".SH SEE ALSO\n.BR svcsim (1)\n";
    return out.str();
}

std::string bashCompletion(const CLI::App& app) {
    const std::vector<Command> all = commands(app);
    std::set<std::string> valued;
    auto noteValued = [&](const CLI::App* a) {
        for (const CLI::Option* o : namedOptions(a, false))
            if (takesValue(o)) {
                for (const auto& s : o->get_snames()) valued.insert("-" + s);
                for (const auto& l : o->get_lnames()) valued.insert("--" + l);
            }
    };
    noteValued(&app);
    for (const Command& c : all) noteValued(c.app);

    auto optionWords = [](const CLI::App* a, bool withHelp) {
        std::string words;
        for (const CLI::Option* o : namedOptions(a, withHelp))
            for (const auto& l : o->get_lnames()) words += (words.empty() ? "--" : " --") + l;
        return words;
    };
    auto subcommandWords = [](const CLI::App* a) {
        std::string words;
        for (const CLI::App* sub : a->get_subcommands([](const CLI::App*) { return true; }))
            words += (words.empty() ? "" : " ") + sub->get_name();
        return words;
    };

    std::ostringstream out;
    out << "# bash completion of svcsnap(1), written from its command line\n\n";
    out << "_svcsnap_subcommands() {\n    case \"$1\" in\n";
    out << "        \"\") echo \"" << subcommandWords(&app) << "\" ;;\n";
    for (const Command& c : all)
        if (!c.app->get_subcommands([](const CLI::App*) { return true; }).empty())
            out << "        \"" << c.path << "\") echo \"" << subcommandWords(c.app) << "\" ;;\n";
    out << "    esac\n}\n\n";
    out << "_svcsnap_options() {\n    case \"$1\" in\n";
    for (const Command& c : all) out << "        \"" << c.path << "\") echo \"" << optionWords(c.app, false) << "\" ;;\n";
    out << "    esac\n}\n\n";
    out << "# What the command's arguments are, in order.\n_svcsnap_arguments() {\n    case \"$1\" in\n";
    for (const Command& c : all) {
        std::string names;
        for (const CLI::Option* p : positionals(c.app)) names += (names.empty() ? "" : " ") + p->get_name(true);
        if (!names.empty()) out << "        \"" << c.path << "\") echo \"" << names << "\" ;;\n";
    }
    out << "    esac\n}\n\n";
    std::string valuedWords;
    for (const auto& v : valued) valuedWords += (valuedWords.empty() ? "" : "|") + v;
    out << "_svcsnap_takes_value() {\n    case \"$1\" in\n        " << valuedWords
        << ") return 0 ;;\n    esac\n    return 1\n}\n\n";
    out << R"BASH(# The first column of a listing, read with the command line's own
# --config and --catalogue.
_svcsnap_column() {
    local -a given=()
    local i
    for ((i = 1; i < ${#COMP_WORDS[@]} - 1; i++)); do
        case "${COMP_WORDS[i]}" in
            --config|--catalogue) given+=("${COMP_WORDS[i]}" "${COMP_WORDS[i + 1]}") ;;
        esac
    done
    svcsnap "${given[@]}" --quiet --terse ' ' "$@" 2>/dev/null | cut -d ' ' -f 1
}

_svcsnap() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local path="" word i arguments=0 subs
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if _svcsnap_takes_value "${COMP_WORDS[i - 1]}"; then continue; fi
        [[ $word == -* ]] && continue
        subs=" $(_svcsnap_subcommands "$path") "
        if ((arguments == 0)) && [[ $subs == *" $word "* ]]; then
            path=${path:+$path }$word
        else
            arguments=$((arguments + 1))
        fi
    done

    if _svcsnap_takes_value "$prev"; then
        case "$prev" in
            --config|--catalogue|--plugin) COMPREPLY=($(compgen -f -- "$cur")) ;;
            --array) COMPREPLY=($(compgen -W "$(_svcsnap_column array list)" -- "$cur")) ;;
            --proxy) COMPREPLY=($(compgen -A hostname -- "$cur")) ;;
            *) COMPREPLY=() ;;
        esac
        return
    fi
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$(_svcsnap_options "$path") )BASH"
        << optionWords(&app, true) << R"BASH(" -- "$cur"))
        return
    fi
    subs=$(_svcsnap_subcommands "$path")
    if [[ -n $subs ]] && ((arguments == 0)); then
        COMPREPLY=($(compgen -W "$subs" -- "$cur"))
        return
    fi
    local -a names=($(_svcsnap_arguments "$path"))
    local kind=${names[arguments]:-${names[${#names[@]} - 1]}}
    case "$kind" in
        job) COMPREPLY=($(compgen -W "$(_svcsnap_column list)" -- "$cur")) ;;
        array-id) COMPREPLY=($(compgen -W "$(_svcsnap_column array list)" -- "$cur")) ;;
        address) COMPREPLY=($(compgen -A hostname -- "$cur")) ;;
        devices) COMPREPLY=($(compgen -f -- "${cur:-/dev/}")) ;;
        *) COMPREPLY=() ;;
    esac
}
complete -F _svcsnap svcsnap
)BASH";
    return out.str();
}

}  // namespace svcsnap
