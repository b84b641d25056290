/* Preloaded into every process of the sanitizer run: plugins stay loaded until the process ends, so
 * that a leak report can still name the library that allocated the block (a module unloaded before
 * the leak check shows as "<unknown module>" and matches no suppression). */
int dlclose(void* handle)
{
    (void)handle;
    return 0;
}
