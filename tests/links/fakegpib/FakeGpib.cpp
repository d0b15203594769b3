// A GPIB library for the link tests, loaded through ACL3_GPIB_LIBRARY. In the folder FAKEGPIB_DIR:
// "calls" gets a line per call ("ibrd 7 256 -> 6"); "ibdev", "replies" and "register" hold answers
// (the bytes of a read), each ended by '|', used up in order (then 100 + address, none, 0).
#include "links/GpibApi.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#define FAKE_GPIB_CALL extern "C" __attribute__((visibility("default"))) int

namespace {

thread_local int lastCount = 0;

std::string pathOf(const char* name)
{
    const char* dir = std::getenv("FAKEGPIB_DIR");
    return std::string(dir ? dir : ".") + "/" + name;
}

int record(const std::string& line, int result = 0)
{
    std::ofstream(pathOf("calls"), std::ios::app) << line << '\n';
    return result;
}

std::string take(const char* name, const std::string& otherwise)
{
    std::ifstream in(pathOf(name));
    std::string first;
    if (!std::getline(in, first, '|'))
        return otherwise;
    std::stringstream rest;
    rest << in.rdbuf();
    in.close();
    std::ofstream(pathOf(name), std::ios::trunc) << rest.str();
    return first;
}

} // namespace

FAKE_GPIB_CALL ibdev(int board, int pad, int sad, int tmo, int eot, int eos)
{
    const int ud = std::stoi(take("ibdev", std::to_string(100 + pad)));
    lastCount = 0;
    return record("ibdev " + std::to_string(board) + ' ' + std::to_string(pad) + ' ' +
                      std::to_string(sad) + ' ' + std::to_string(tmo) + ' ' + std::to_string(eot) +
                      ' ' + std::to_string(eos) + " -> " + std::to_string(ud),
                  ud);
}

FAKE_GPIB_CALL ibwrt(int ud, const void* buf, long count)
{
    std::string bytes(static_cast<const char*>(buf), static_cast<std::size_t>(count));
    // A line end sent down the bus must show in the one line of this call.
    for (std::size_t lf; (lf = bytes.find('\n')) != std::string::npos;)
        bytes.replace(lf, 1, "\\n");
    lastCount = static_cast<int>(count);
    return record("ibwrt " + std::to_string(ud) + ' ' + bytes);
}

FAKE_GPIB_CALL ibrd(int ud, void* buf, long count)
{
    const std::string bytes = take("replies", {});
    const std::size_t n = std::min(bytes.size(), static_cast<std::size_t>(count));
    bytes.copy(static_cast<char*>(buf), n);
    lastCount = static_cast<int>(n);
    return record("ibrd " + std::to_string(ud) + ' ' + std::to_string(count) + " -> " +
                  std::to_string(n));
}

FAKE_GPIB_CALL ibonl(int ud, int v)
{
    return record("ibonl " + std::to_string(ud) + ' ' + std::to_string(v));
}

FAKE_GPIB_CALL ThreadIbcnt(void)
{
    return lastCount;
}

FAKE_GPIB_CALL RegisterGpibGlobalsForThread(int* ibsta, int* iberr, int* ibcnt)
{
    const int answer = std::stoi(take("register", "0"));
    return record(std::string("register ") + (ibsta && iberr && ibcnt ? "vars" : "null") + " -> " +
                      std::to_string(answer),
                  answer);
}

FAKE_GPIB_CALL UnregisterGpibGlobalsForThread(void)
{
    return record("unregister");
}
