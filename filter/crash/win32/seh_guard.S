# The frame of the structured exception guard (seh_guard.h).
#
#   int sentrel_seh_guarded_call(void (*call)(void*), void* arg, void* state)
#
# Calls call(arg) and returns 0; when the frame's handler takes an exception,
# the platform unwinds to .Lrecover and the frame returns 1. The state pointer
# is kept at [rbp - 8], where the handler finds it from the frame.
  .text
  .globl sentrel_seh_guarded_call
  .def sentrel_seh_guarded_call; .scl 2; .type 32; .endef
  .seh_proc sentrel_seh_guarded_call
sentrel_seh_guarded_call:
  pushq %rbp
  .seh_pushreg %rbp
  movq %rsp, %rbp
  .seh_setframe %rbp, 0
  subq $48, %rsp
  .seh_stackalloc 48
  .seh_endprologue
  .seh_handler sentrel_seh_guard_handler, @except
  .seh_handlerdata
  .quad .Lrecover
  .text
  movq %r8, -8(%rbp)
  movq %rcx, %rax
  movq %rdx, %rcx
  call *%rax
  nop
  xorl %eax, %eax
  jmp .Ldone
.Lrecover:
  movl $1, %eax
.Ldone:
  addq $48, %rsp
  popq %rbp
  ret
  .seh_endproc
