// Linked into every fuzz target: undefined behaviour is a finding like a
// crash, so the first report stops the run and keeps the input.
extern "C" const char* __ubsan_default_options()
{
    return "halt_on_error=1:print_stacktrace=1";
}

// The memory ceiling judges what the engine holds. Freed blocks the address
// sanitizer keeps back to catch late uses (256 MB by default) would fill half
// of it alone once a few large pictures have come and gone.
extern "C" const char* __asan_default_options()
{
    return "quarantine_size_mb=64";
}
