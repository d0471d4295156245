// The Tunewell program: everything happens in RunApplication.
#include "ui/Application.h"

int main(int argc, char** argv) { return tw::RunApplication(argc, argv); }
