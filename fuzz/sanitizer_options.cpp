// Linked into every fuzz target: undefined behaviour is a finding like a
// crash, so the first report stops the run and keeps the input.
extern "C" const char* __ubsan_default_options()
{
    return "halt_on_error=1:print_stacktrace=1";
}
