// A shared object for the module tests.
extern "C" __attribute__((visibility("default"))) int plugin_answer() { return 42; }
