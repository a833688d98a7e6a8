/* vendor-stamp IN OUT: OUT is IN followed by the sum of IN's bytes, 32 bits
 * little-endian. */
#include <stdio.h>

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: vendor-stamp IN OUT\n");
        return 2;
    }
    FILE *in = fopen(argv[1], "rb");
    FILE *out = fopen(argv[2], "wb");
    if (in == NULL || out == NULL) {
        perror("vendor-stamp");
        return 1;
    }
    unsigned long sum = 0;
    int c;
    while ((c = getc(in)) != EOF) {
        sum += (unsigned)c;
        putc(c, out);
    }
    for (int i = 0; i < 4; ++i) {
        putc((int)(sum >> (8 * i) & 0xff), out);
    }
    return fclose(out) != 0 || ferror(in);
}
