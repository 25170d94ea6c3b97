#include "app/startup.h"

int main(int argc, char** argv) { return sorowa::RunSorowa(argc, argv); }
