// The names of one result in display order: the entries of the master lists
// that a request shows, with the open sessions folded in.
//
// Nothing here copies a name: a listing points into the snapshots and into
// the kept session entries, which the request holds until it has built its
// result. The master lists arrive sorted, so folding the sessions in and
// putting everything in display order is one merge of sorted sequences;
// only the sessions that name no shown entry need sorting, among themselves.
#ifndef VELMORA_PLUGIN_LISTING_H
#define VELMORA_PLUGIN_LISTING_H

#include <initializer_list>
#include <string>
#include <vector>

#include "plugin/request/filters.h"

namespace hx {

// One name of a result.
struct ListedName {
  const std::string *name;
  bool open;  // the host holds a session open under this name
};
using Listing = std::vector<ListedName>;

// Folds open sessions into the shown entries of some lists and answers all of
// it in display order:
// - every shown entry whose name equals a session's name ignoring case is
//   marked open (in its selection, too);
// - sessions that name no shown entry are added, once per name ignoring
//   case: the first such session's name, open when it is or when several
//   sessions share the name.
// The order among names that compare equal is not fixed.
Listing ListNames(std::initializer_list<NameSelection *> lists, const NameView &sessions);
Listing ListResources(std::initializer_list<ResourceSelection *> lists,
                      const ResourceView &sessions);

}  // namespace hx

#endif
