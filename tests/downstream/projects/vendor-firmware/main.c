#include "vendor_hal.h"

static const char greeting[] = "blink, from a vendor SDK's firmware";
static unsigned ticks = 7;

int main(void)
{
    for (unsigned led = 0;; led = (led + 1) % 4) {
        vendor_led_set(led, (int)(ticks++ & 1u) ^ greeting[led]);
    }
}
