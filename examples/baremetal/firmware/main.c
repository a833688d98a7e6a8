// Says, through semihosting, whether the startup code did its work, and ends
// the run: under QEMU with -semihosting the line goes to its standard output
// and SYS_EXIT ends QEMU.
#include <stdint.h>
#include <string.h>

static char greeting[] = "hello from a hexfold image: .data copied, .bss zeroed\n";
static const char expected[] = "hello from a hexfold image: .data copied, .bss zeroed\n";
static uint32_t zeroed[8];

static void semihost(uint32_t operation, const void *argument)
{
    register uint32_t r0 __asm__("r0") = operation;
    register const void *r1 __asm__("r1") = argument;
    __asm__ volatile("bkpt 0xab" : "+r"(r0) : "r"(r1) : "memory");
}

int main(void)
{
    enum { SYS_WRITE0 = 0x04, SYS_EXIT = 0x18, ADP_STOPPED_APPLICATION_EXIT = 0x20026 };
    uint32_t any = 0;
    for (unsigned i = 0; i < sizeof zeroed / sizeof zeroed[0]; i++)
        any |= zeroed[i];
    if (memcmp(greeting, expected, sizeof expected) != 0)
        semihost(SYS_WRITE0, ".data was not copied\n");
    else if (any != 0)
        semihost(SYS_WRITE0, ".bss was not zeroed\n");
    else
        semihost(SYS_WRITE0, greeting);
    semihost(SYS_EXIT, (const void *)ADP_STOPPED_APPLICATION_EXIT);
    return 0;
}
