// The vector table and the reset handler: .data from flash to SRAM, .bss
// zeroed, then main.
#include <stdint.h>

extern uint32_t _estack[], _sidata[], _sdata[], _edata[], _sbss[], _ebss[];
int main(void);

void reset_handler(void)
{
    const uint32_t *from = _sidata;
    for (uint32_t *to = _sdata; to < _edata;)
        *to++ = *from++;
    for (uint32_t *to = _sbss; to < _ebss;)
        *to++ = 0;
    main();
    for (;;) {
    }
}

static void stop(void)
{
    for (;;) {
    }
}

// Initial stack pointer, reset, NMI, hard fault; nothing else is enabled.
__attribute__((section(".vectors"), used)) static void (*const vectors[])(void) = {
    (void (*)(void))_estack,
    reset_handler,
    stop,
    stop,
};
