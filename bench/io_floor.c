/* The least that any converter of the bench's source must do: read it in
 * 1 MiB blocks and write 21/43 of each block, the share of payload in its
 * 43-character lines, without looking at a byte.
 *
 *     io_floor SOURCE TARGET
 */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    static char block[1 << 20];
    if (argc != 3) {
        fputs("usage: io_floor SOURCE TARGET\n", stderr);
        return 2;
    }
    int in = open(argv[1], O_RDONLY);
    int out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (in < 0 || out < 0) {
        perror("io_floor");
        return 1;
    }
    ssize_t got;
    while ((got = read(in, block, sizeof block)) > 0) {
        size_t share = (size_t)got * 21 / 43;
        if (write(out, block, share) != (ssize_t)share) {
            perror("io_floor");
            return 1;
        }
    }
    return got < 0 || close(out) != 0;
}
