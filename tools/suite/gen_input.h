// The script generators' input: one page a line, "1 METHOD URL NAME" for
// the C generator and "1 METHOD URL" for the Legacy one, fields separated by
// one blank.
#ifndef VT_SUITE_GEN_INPUT_H_
#define VT_SUITE_GEN_INPUT_H_

#include <string>
#include <vector>

#include "tools/suite/script_store.h"

// Parses one line (without its line end). With with_name the rest of the
// line after the URL is the wanted page name; without it the line must end
// after the URL. False with *err naming the fault.
bool parse_gen_line(const std::string &line, bool with_name, SuitePage *page, std::string *err);

// Parses the whole input file in line order; false with *err naming the
// file and line of the first fault.
bool read_gen_input(const std::string &path, bool with_name, std::vector<SuitePage> *pages,
                    std::string *err);

// Gives every page a unique name: the wanted one when it has one (commas and
// tabs become "_"), else page_<position from 1>; a name already given gets
// "_2", "_3", ... appended.
void name_pages(std::vector<SuitePage> *pages);

#endif  // VT_SUITE_GEN_INPUT_H_
