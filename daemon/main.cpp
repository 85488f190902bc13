// Process entry of veldd.
extern "C" int veldd_entry(int argc, char** argv);
int main(int argc, char** argv) { return veldd_entry(argc, argv); }
