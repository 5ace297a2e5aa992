list(APPEND VM_SYS_DEPS vm_platform_text)
