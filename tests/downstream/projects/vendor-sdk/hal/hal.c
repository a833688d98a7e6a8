#include "vendor_hal.h"

static volatile unsigned vendor_leds;

void vendor_led_set(unsigned led, int on)
{
    if (led < VENDOR_BOARD_LEDS) {
        vendor_leds = on ? vendor_leds | 1u << led : vendor_leds & ~(1u << led);
    }
}
