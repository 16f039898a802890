// Forms as text: the reader builds a component tree on an existing root from
// its published-property tables, the writer prints one back.
//
// Grammar (tokens may be separated by any blank space, including new lines):
//
//   form      = object
//   object    = "object" [ident ":"] ident { property } { object } "end"
//               (name, then class; the name may be left out)
//   property  = path "=" value
//   path      = ident { "." ident }          sub-objects by their property
//                                            name, e.g. Font.Height;
//                                            <sub-object>.Data is its data block
//   value     = integer | string | ident | set | data
//   integer   = ["-" | "+"] digit { digit }   (32-bit signed)
//   string    = part { part } { "+" part { part } }
//   part      = "'" { char | "''" } "'" | "#" digit { digit }   (#0 … #255)
//               char: printable ASCII other than the quote, or any byte
//               ≥ 0x80, so that code-page 936 text can stand as it is
//   set       = "[" [ident { "," ident }] "]"
//   data      = "{" { hexdigit | blank } "}"   (an even number of digits)
//   ident     = letter_ { letter_ | digit }   (case-insensitive lookups)
//
// How an ident is taken depends on the property: True/False for booleans, a
// member name for enumerations and sets, a named value (clBlack) for
// integers, a published method of the root for events, the name of the root
// or of a component it owns (or nil) for component references, which are set
// once the whole form is read. Within an object the properties come before
// the nested objects.
//
// The writer prints every property that differs from its default (strings
// when not empty or their declared default, events when bound by name to a
// method of the root, references to the root or what it owns), two
// spaces per level, data blocks at 64 hex digits a line, and printable ASCII
// in quotes with every other byte as #n.
#pragma once

#include <string>
#include <string_view>

#include "classes.h"

// Reads a form into `root`, whose class name must be the one in the text.
// Child components are created by class name with the root as owner. Any
// error raises EReadError naming the line; the components made by the failed
// read are freed again and the root's fields to them cleared.
void ReadComponentFromText(std::string_view text, TComponent* root);

std::string WriteComponentToText(TComponent* root);

// Form texts by name (case-insensitive), e.g. "TFORM1".
void RegisterFormResource(std::string name, std::string text);
const std::string* FindFormResource(std::string_view name);

// Reads the form resource named after the root's class in upper case;
// false when there is none.
bool InitInheritedComponent(TComponent* root);
