list(APPEND VM_SYS_DEPS vm_platform_text)
list(APPEND VM_SYS_DEPS vm_platform_fs)
list(APPEND VM_SYS_DEPS vm_platform_archive)
