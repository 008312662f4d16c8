// Preloaded into a program: every malloc of exactly FAILING_MALLOC_SIZE bytes
// fails, every other one is the C library's. It lets a test make one chosen
// allocation fail (the size picks it) in a real run.
#include <stddef.h>
#include <stdlib.h>

extern "C" void *__libc_malloc(size_t size);

extern "C" void *malloc(size_t size)
{
    // getenv allocates nothing, so it is safe here.
    const char *failing = getenv("FAILING_MALLOC_SIZE");
    if (failing && size == strtoul(failing, nullptr, 10))
        return nullptr;
    return __libc_malloc(size);
}
