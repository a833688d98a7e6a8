/* Counts the instructions that an x86-64 program executes in user space from
 * its entry point on, by stepping it one instruction at a time under
 * ptrace: every instruction the processor runs, whatever its vector units,
 * where valgrind knows no AVX-512 and a virtual machine may offer no
 * counters. The program runs freely up to its entry point, so the dynamic
 * loader's relocations are not counted (nor stepped, which is slow). The
 * count is the same on every run of a binary with the same input and
 * environment: the program's addresses are not randomised.
 *
 *     step_count PROGRAM [ARGUMENT...]
 *
 * Prints the count on standard error, as "instructions: N", and exits with
 * the program's status (125 when it cannot be counted). Part of the tests,
 * never installed.
 */
#define _GNU_SOURCE
#include <elf.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/personality.h>
#include <sys/ptrace.h>
#include <sys/types.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <unistd.h>

static int fail(const char *what)
{
    fprintf(stderr, "step_count: %s: %s\n", what, errno != 0 ? strerror(errno) : "unexpected stop");
    return 125;
}

/* The program's entry point, from the auxiliary vector that the kernel
 * gave it; 0 when it cannot be read. */
static unsigned long entry_point(pid_t child)
{
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/auxv", (int)child);
    const int fd = open(path, O_RDONLY);
    if (fd < 0) {
        return 0;
    }
    Elf64_auxv_t entry;
    unsigned long found = 0;
    while (found == 0 && read(fd, &entry, sizeof entry) == (ssize_t)sizeof entry && entry.a_type != AT_NULL) {
        if (entry.a_type == AT_ENTRY) {
            found = entry.a_un.a_val;
        }
    }
    close(fd);
    return found;
}

/* Runs the stopped child up to address with a breakpoint (int3) there. */
static int run_to(pid_t child, unsigned long address)
{
    errno = 0;
    const long word = ptrace(PTRACE_PEEKTEXT, child, (void *)address, NULL);
    if (errno != 0 || ptrace(PTRACE_POKETEXT, child, (void *)address, (void *)((word & ~0xFFL) | 0xCC)) != 0 ||
        ptrace(PTRACE_CONT, child, NULL, NULL) != 0) {
        return -1;
    }
    int status = 0;
    struct user_regs_struct regs;
    if (waitpid(child, &status, 0) != child || !WIFSTOPPED(status) || WSTOPSIG(status) != SIGTRAP ||
        ptrace(PTRACE_GETREGS, child, NULL, &regs) != 0 || regs.rip != address + 1) {
        errno = 0;
        return -1;
    }
    regs.rip = address;
    return ptrace(PTRACE_POKETEXT, child, (void *)address, (void *)word) != 0 ||
                   ptrace(PTRACE_SETREGS, child, NULL, &regs) != 0
               ? -1
               : 0;
}

int main(int argc, char **argv)
{
    if (argc < 2) {
        fputs("usage: step_count PROGRAM [ARGUMENT...]\n", stderr);
        return 125;
    }
    const pid_t child = fork();
    if (child < 0) {
        return fail("fork");
    }
    if (child == 0) {
        /* Stops at the exec, before the loader's first instruction. */
        if (personality(ADDR_NO_RANDOMIZE) < 0 || ptrace(PTRACE_TRACEME, 0, NULL, NULL) != 0) {
            _exit(fail("ptrace"));
        }
        execvp(argv[1], argv + 1);
        _exit(fail(argv[1]));
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFSTOPPED(status)) {
        return WIFEXITED(status) ? WEXITSTATUS(status) : fail("waitpid");
    }
    const unsigned long entry = entry_point(child);
    if (entry == 0 || run_to(child, entry) != 0) {
        kill(child, SIGKILL);
        return fail("the program's entry point");
    }
    /* Each step stops the program with SIGTRAP after one instruction; any
     * other signal is handed on with the next step. */
    unsigned long long steps = 0;
    int pending = 0;
    for (;;) {
        if (ptrace(PTRACE_SINGLESTEP, child, NULL, (void *)(long)pending) != 0) {
            return fail("PTRACE_SINGLESTEP");
        }
        if (waitpid(child, &status, 0) != child) {
            return fail("waitpid");
        }
        if (!WIFSTOPPED(status)) {
            break;
        }
        ++steps;
        pending = WSTOPSIG(status) == SIGTRAP ? 0 : WSTOPSIG(status);
    }
    fprintf(stderr, "instructions: %llu\n", steps);
    if (WIFSIGNALED(status)) {
        fprintf(stderr, "step_count: %s ended by signal %d\n", argv[1], WTERMSIG(status));
        return 125;
    }
    return WEXITSTATUS(status);
}
