extern "C" int veldd_entry(int, char**) { return 0; }
