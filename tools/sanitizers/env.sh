# Sourced by the check scripts: every sanitizer report ends the process with a failure,
# with a stack, and only the suppressions kept beside this file apply.
# The scripts source this from the top of the work tree.
sanitizers_dir=$(pwd)/tools/sanitizers
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:print_stacktrace=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1:suppressions=$sanitizers_dir/asan.supp"
export LSAN_OPTIONS="suppressions=$sanitizers_dir/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:suppressions=$sanitizers_dir/ubsan.supp"
# QTest's own crash handler would hide the sanitizer's stack.
export QTEST_DISABLE_CRASH_HANDLER=1
export QT_QPA_PLATFORM=offscreen
