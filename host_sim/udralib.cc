// udralib_mt.so: the maker ships the host library in two parts, and both
// programs link both by name. keldlib_mt.so of the stand-in holds every entry
// point, so this part exports nothing; it exists so that the programs' link
// and load work the same way as with the maker's libraries.
namespace host_sim {
[[gnu::used]] int udralib_present = 1;
}
