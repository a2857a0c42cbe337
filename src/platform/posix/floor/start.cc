// The entry point of the launcher image when it is linked against the old-version C library
// stubs instead of the C library's own start files.
//
// The start files of a current C library hand __libc_start_main no initialisation function:
// that C library runs the program's constructors itself. A C library of an older release runs
// only the function it is handed. So this entry point hands over one that runs the image's
// .init_array; both kinds of C library then call it exactly once, before main.

extern "C" {

int main(int argc, char** argv);

typedef void (*InitFunction)(int argc, char** argv, char** envp);
// Bounds of the image's .init_array, defined by the linker.
extern InitFunction __init_array_start[] __attribute__((visibility("hidden")));
extern InitFunction __init_array_end[] __attribute__((visibility("hidden")));

// Runs the static constructors in link order, with the arguments the C library passes.
__attribute__((used, visibility("hidden"))) void LauncherRunInitArray(int argc, char** argv,
                                                                      char** envp) {
  for (InitFunction* entry = __init_array_start; entry != __init_array_end; ++entry) {
    (*entry)(argc, argv, envp);
  }
}

// Marks the image as using the current standard I/O structures: without it the i386 C library
// gives the program the standard streams of its first releases. The link exports it.
__attribute__((used)) extern const int _IO_stdin_used = 0x20001;

}  // extern "C"

// The process entry: the kernel leaves argc, argv and the environment on the stack and the
// dynamic loader passes its own finaliser in the third argument register (edx/rdx). The stack
// is aligned to 16 bytes for the call, and __libc_start_main never returns.
#if defined(__x86_64__)
__asm__(
    ".pushsection .text\n"
    ".globl _start\n"
    ".type _start, @function\n"
    "_start:\n"
    "  .cfi_startproc\n"
    "  .cfi_undefined rip\n"
    "  xorl %ebp, %ebp\n"
    "  movq %rdx, %r9\n"   // rtld_fini
    "  popq %rsi\n"        // argc
    "  movq %rsp, %rdx\n"  // argv
    "  andq $-16, %rsp\n"
    "  pushq %rax\n"
    "  pushq %rsp\n"       // stack_end
    "  xorl %r8d, %r8d\n"  // fini: the dynamic loader runs .fini_array
    "  leaq LauncherRunInitArray(%rip), %rcx\n"
    "  leaq main(%rip), %rdi\n"
    "  call *__libc_start_main@GOTPCREL(%rip)\n"
    "  hlt\n"
    "  .cfi_endproc\n"
    ".size _start, . - _start\n"
    ".popsection\n");
#elif defined(__i386__)
__asm__(
    ".pushsection .text\n"
    ".globl _start\n"
    ".type _start, @function\n"
    "_start:\n"
    "  .cfi_startproc\n"
    "  .cfi_undefined eip\n"
    "  xorl %ebp, %ebp\n"
    "  popl %esi\n"        // argc
    "  movl %esp, %ecx\n"  // argv
    "  andl $-16, %esp\n"
    "  pushl %eax\n"
    "  pushl %esp\n"  // stack_end
    "  pushl %edx\n"  // rtld_fini
    "  call 1f\n"
    "1:\n"
    "  popl %ebx\n"
    "  addl $_GLOBAL_OFFSET_TABLE_+[.-1b], %ebx\n"
    "  pushl $0\n"  // fini: the dynamic loader runs .fini_array
    "  leal LauncherRunInitArray@GOTOFF(%ebx), %eax\n"
    "  pushl %eax\n"
    "  pushl %ecx\n"
    "  pushl %esi\n"
    "  leal main@GOTOFF(%ebx), %eax\n"
    "  pushl %eax\n"
    "  call *__libc_start_main@GOT(%ebx)\n"
    "  hlt\n"
    "  .cfi_endproc\n"
    ".size _start, . - _start\n"
    ".popsection\n");
#else
#error "the glibc floor entry point is written for x86-64 and i386 only"
#endif
