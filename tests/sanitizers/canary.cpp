// Commits one fault on purpose, so that the test run can see the sanitizers
// report it.

#include <climits>
#include <cstdio>
#include <cstddef>
#include <string_view>

namespace {

void* volatile leaked;
void* volatile escaped;

void leak()
{
    leaked = new char[64];
    leaked = nullptr;
}

void overflow()
{
    // A buffer whose size the compiler cannot see, so that AddressSanitizer
    // is the one to catch the write rather than UBSan's object-size check:
    // GCC 14 follows even a volatile size from the allocation to the write,
    // but not a pointer read back from a volatile.
    volatile std::size_t size = 8;
    escaped = new char[size]; // also keeps the optimiser from dropping it
    char* buffer = static_cast<char*>(escaped);
    buffer[size] = 'x';
    delete[] buffer;
}

void undefined()
{
    volatile int big = INT_MAX;
    std::printf("%d\n", big + 1);
}

} // namespace

int main(int argc, char* argv[])
{
    const std::string_view fault = argc > 1 ? argv[1] : "";
    if (fault == "leak")
        leak();
    else if (fault == "overflow")
        overflow();
    else if (fault == "undefined")
        undefined();
    return 0;
}
