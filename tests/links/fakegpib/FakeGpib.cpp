// A GPIB library for the link tests, loaded through ACL3_GPIB_LIBRARY like a real one. It keeps
// no state of its own between loads: everything lives in the folder named by FAKEGPIB_DIR.
//   calls     one line per call, appended ("ibwrt 7 REMOTE", "ibrd 7 256 -> 6"); LF written as \n
//   ibdev     answers of ibdev, each ended by '|', used up in order (none left: 100 + address)
//   replies   the bytes of each read, each ended by '|'; an empty one transfers nothing
//   register  answers of RegisterGpibGlobalsForThread, each ended by '|' (none left: 0)
#include "links/GpibApi.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

namespace {

thread_local int lastCount = 0;

std::string pathOf(const char* name)
{
    const char* dir = std::getenv("FAKEGPIB_DIR");
    return std::string(dir ? dir : ".") + "/" + name;
}

void record(const std::string& line)
{
    std::ofstream(pathOf("calls"), std::ios::app) << line << '\n';
}

std::optional<std::string> take(const char* name)
{
    std::ifstream in(pathOf(name));
    std::string first;
    if (!std::getline(in, first, '|'))
        return std::nullopt;
    std::stringstream rest;
    rest << in.rdbuf();
    in.close();
    std::ofstream(pathOf(name), std::ios::trunc) << rest.str();
    return first;
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) int ibdev(int board, int pad, int sad, int tmo, int eot,
                                                 int eos)
{
    const std::optional<std::string> answer = take("ibdev");
    const int ud = answer ? std::stoi(*answer) : 100 + pad;
    std::ostringstream line;
    line << "ibdev " << board << ' ' << pad << ' ' << sad << ' ' << tmo << ' ' << eot << ' ' << eos
         << " -> " << ud;
    record(line.str());
    lastCount = 0;
    return ud;
}

__attribute__((visibility("default"))) int ibwrt(int ud, const void* buf, long count)
{
    std::string bytes(static_cast<const char*>(buf), static_cast<std::size_t>(count));
    // A line end sent down the bus must show in the one line of this call.
    for (std::size_t lf; (lf = bytes.find('\n')) != std::string::npos;)
        bytes.replace(lf, 1, "\\n");
    record("ibwrt " + std::to_string(ud) + ' ' + bytes);
    lastCount = static_cast<int>(count);
    return 0;
}

__attribute__((visibility("default"))) int ibrd(int ud, void* buf, long count)
{
    const std::string bytes = take("replies").value_or(std::string());
    const std::size_t n = std::min(bytes.size(), static_cast<std::size_t>(count));
    bytes.copy(static_cast<char*>(buf), n);
    lastCount = static_cast<int>(n);
    record("ibrd " + std::to_string(ud) + ' ' + std::to_string(count) + " -> " + std::to_string(n));
    return 0;
}

__attribute__((visibility("default"))) int ibonl(int ud, int v)
{
    record("ibonl " + std::to_string(ud) + ' ' + std::to_string(v));
    return 0;
}

__attribute__((visibility("default"))) int ThreadIbcnt(void)
{
    return lastCount;
}

__attribute__((visibility("default"))) int RegisterGpibGlobalsForThread(int* ibsta, int* iberr,
                                                                        int* ibcnt)
{
    const int answer = std::stoi(take("register").value_or("0"));
    record("register " + std::string(ibsta && iberr && ibcnt ? "vars" : "null") + " -> " +
           std::to_string(answer));
    return answer;
}

__attribute__((visibility("default"))) int UnregisterGpibGlobalsForThread(void)
{
    record("unregister");
    return 0;
}
}
