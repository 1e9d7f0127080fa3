// A program that makes a sanitizer report on purpose, then fails as a run with a fault does
// (exit 1) if the sanitizer let it go on. The test holds its exit to the sanitizers' own code: a
// report must never pass for the ordinary failure the host's tests expect.
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    const char* kind = argc > 1 ? argv[1] : "heap";
    if (std::strcmp(kind, "heap") == 0) {
        // volatile: the optimiser may not drop the read past the end.
        char* volatile block = static_cast<char*>(std::malloc(8));
        std::memset(block, 0, 8);
        std::printf("%d\n", block[8 + argc]);
        std::free(block);
    } else if (std::strcmp(kind, "leak") == 0) {
        void* volatile lost = std::malloc(64);
        lost = nullptr;
        (void)lost;
    } else if (std::strcmp(kind, "undefined") == 0) {
        volatile int big = 0x7fffffff;
        std::printf("%d\n", big + argc);
    }
    return 1;
}
