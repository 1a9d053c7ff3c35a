#include "Output.h"

#include <algorithm>
#include <cctype>
#include <iostream>

#include "Progress.h"

namespace svcsnap {

void printTable(std::ostream& out, const Table& table) {
    std::vector<size_t> width(table.columns.size(), 0);
    for (size_t c = 0; c < table.columns.size(); ++c) width[c] = table.columns[c].size();
    for (const auto& row : table.rows)
        for (size_t c = 0; c < row.size() && c < width.size(); ++c) width[c] = std::max(width[c], row[c].size());
    auto print = [&](const std::vector<std::string>& cells, bool upper) {
        std::string line;
        for (size_t c = 0; c < width.size(); ++c) {
            std::string cell = c < cells.size() ? cells[c] : std::string();
            if (upper)
                std::transform(cell.begin(), cell.end(), cell.begin(),
                               [](unsigned char ch) { return char(std::toupper(ch)); });
            line += cell;
            if (c + 1 < width.size()) line += std::string(width[c] - cell.size() + 2, ' ');
        }
        out << line << "\n";
    };
    print(table.columns, true);
    for (const auto& row : table.rows) print(row, false);
}

void printTerse(std::ostream& out, const Table& table, const std::string& separator) {
    for (const auto& row : table.rows) {
        std::string line = table.label.empty() ? std::string() : table.label + separator;
        for (size_t c = 0; c < table.columns.size(); ++c) {
            if (c > 0) line += separator;
            if (c < row.size()) line += row[c];
        }
        out << line << "\n";
    }
}

const std::vector<ExitStatusText>& exitStatusTexts() {
    static const std::vector<ExitStatusText> texts = {
        {kExitOk, "every device (or the command) succeeded"},
        {kExitFailed, "no device succeeded, or the command failed"},
        {kExitPartial, "some devices succeeded, some did not"},
        {kExitUsage, "usage error: the command line cannot be carried out as written"},
        {kExitDataErr, "the catalogue is corrupt"},
        {kExitNoInput, "unknown job or array, or a file named (configuration, plug-in) does not exist"},
        {kExitUnavailable, "the array's provider cannot be reached"},
        {kExitTempFail, "the job is busy with a step of another svcsnap"},
        {kExitNoPerm, "the provider refused the credentials"},
        {kExitConfig, "configuration error (a bad or unknown key in the configuration file)"},
        {kExitSigInt, "interrupted by SIGINT (Ctrl-C)"},
        {kExitSigTerm, "terminated by SIGTERM"},
    };
    return texts;
}

std::string jsonText(const nlohmann::json& value, int indent) {
    return value.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
}

int exitForRecords(size_t succeeded, size_t total) {
    if (total > 0 && succeeded == total) return kExitOk;
    return succeeded > 0 ? kExitPartial : kExitFailed;
}

Output::Output(std::string command, bool json, bool quiet)
    : command_(std::move(command)), json_(json), quiet_(quiet) {
    doc_["command"] = command_;
}

void Output::line(const std::string& text) {
    lines_.push_back(text);
    order_.push_back(0);
}

void Output::table(const Table& table) {
    tables_.push_back(table);
    order_.push_back(1);
}

void Output::warn(const std::string& text) {
    finishLiveLine();
    std::cerr << "svcsnap: warning: " << text << std::endl;
    doc_["warnings"].push_back(text);
}

void Output::flush() {
    finishLiveLine();
    if (json_) return;
    size_t line = 0, table = 0;
    for (size_t kind : order_) {
        if (kind == 0) {
            const std::string& text = lines_[line++];
            if (terse_.empty()) std::cout << text << "\n";
        } else if (terse_.empty()) {
            printTable(std::cout, tables_[table++]);
        } else {
            printTerse(std::cout, tables_[table++], terse_);
        }
    }
    lines_.clear();
    tables_.clear();
    order_.clear();
    std::cout.flush();
}

int Output::finish(int exitStatus, const std::string& reason) {
    finishLiveLine();
    if (json_) {
        doc_["exitStatus"] = exitStatus;
        if (!reason.empty()) doc_["error"] = reason;
        std::cout << jsonText(doc_, 2) << "\n";
    }
    flush();
    std::cout.flush();
    if (exitStatus != kExitOk && !reason.empty()) std::cerr << "svcsnap: " << reason << "\n";
    return exitStatus;
}

}  // namespace svcsnap
