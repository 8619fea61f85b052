// payload_builder LIST OUTPUT
// Reads a list of files (kind, folder template and file, tab-separated, '#' starts a comment,
// files absolute or relative to the list's folder) and writes the stored payload that the
// installer carries as its resource 260/134.
#include "installer/payload/payload_writer.hpp"
#include "foundation/text/conversions.hpp"

#include <cstdio>
#include <exception>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>

namespace fs = std::filesystem;

namespace {

payload_kind kind_named(const std::string& name) {
    static const std::map<std::string, payload_kind> kinds{
        {"ordinary", payload_kind::ordinary},   {"main_program", payload_kind::main_program},
        {"uninstaller", payload_kind::uninstaller}, {"shared", payload_kind::shared},
        {"sample", payload_kind::sample},       {"setup_only", payload_kind::setup_only},
    };
    const auto found = kinds.find(name);
    if (found == kinds.end())
        throw std::runtime_error("unknown kind '" + name + "'");
    return found->second;
}

std::vector<payload_item> read_list(const fs::path& list) {
    std::ifstream in(list);
    if (!in)
        throw std::runtime_error("cannot open " + list.string());
    const fs::path folder = fs::absolute(list).parent_path();
    std::vector<payload_item> items;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line.front() == '#')
            continue;
        std::istringstream fields(line);
        std::string kind, folder_template, file;
        if (!std::getline(fields, kind, '\t') || !std::getline(fields, folder_template, '\t') ||
            !std::getline(fields, file))
            throw std::runtime_error(list.string() + ":" + std::to_string(number) + ": expected kind, template, file");
        const fs::path source = (folder / vd::utf8_to_wide(file)).lexically_normal();
        items.push_back({source.wstring(), vd::utf8_to_wide(folder_template), kind_named(kind), source});
    }
    return items;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: payload_builder LIST OUTPUT\n", stderr);
        return 2;
    }
    try {
        const auto items = read_list(argv[1]);
        std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
        out.exceptions(std::ios::badbit | std::ios::failbit);
        write_payload(out, items);
        std::printf("%zu files\n", items.size());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "payload_builder: %s\n", e.what());
        std::remove(argv[2]);
        return 1;
    }
}
