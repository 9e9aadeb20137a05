#pragma once
/**
 * libxml2, loaded when the first XML is written or checked against a schema rather than when the
 * program starts: the functions of it this module uses, called as `libxml().xmlTextWriterFlush(w)`.
 * A missing library is a talvira::Error naming its package, thrown at the first call (and again at
 * every later one).
 */
#include "common/LazyLibrary.h"

#include <libxml/parser.h>
#include <libxml/xmlreader.h>
#include <libxml/xmlschemas.h>
#include <libxml/xmlwriter.h>

namespace talvira::xml {

/** libxml2 itself, loaded at the first function taken from it. */
const LazyLibrary& libxmlLibrary();

/** The functions of libxml2 this module calls, each taken when the table is made. */
struct LibxmlFunctions {
#define TALVIRA_LIBXML(name) decltype(&::name) name = libxmlLibrary().function<decltype(&::name)>(#name);
    TALVIRA_LIBXML(xmlBufferContent)
    TALVIRA_LIBXML(xmlBufferCreate)
    TALVIRA_LIBXML(xmlBufferFree)
    TALVIRA_LIBXML(xmlBufferLength)
    TALVIRA_LIBXML(xmlFreeTextReader)
    TALVIRA_LIBXML(xmlFreeTextWriter)
    TALVIRA_LIBXML(xmlGetLastError)
    TALVIRA_LIBXML(xmlInitParser)
    TALVIRA_LIBXML(xmlNewTextWriter)
    TALVIRA_LIBXML(xmlNewTextWriterMemory)
    TALVIRA_LIBXML(xmlOutputBufferClose)
    TALVIRA_LIBXML(xmlOutputBufferCreateIO)
    TALVIRA_LIBXML(xmlReaderForMemory)
    TALVIRA_LIBXML(xmlResetLastError)
    TALVIRA_LIBXML(xmlSchemaFreeParserCtxt)
    TALVIRA_LIBXML(xmlSchemaFreeValidCtxt)
    TALVIRA_LIBXML(xmlSchemaNewParserCtxt)
    TALVIRA_LIBXML(xmlSchemaNewValidCtxt)
    TALVIRA_LIBXML(xmlSchemaParse)
    TALVIRA_LIBXML(xmlSchemaSetParserStructuredErrors)
    TALVIRA_LIBXML(xmlSchemaSetValidStructuredErrors)
    TALVIRA_LIBXML(xmlTextReaderIsValid)
    TALVIRA_LIBXML(xmlTextReaderRead)
    TALVIRA_LIBXML(xmlTextReaderSchemaValidateCtxt)
    TALVIRA_LIBXML(xmlTextReaderSetStructuredErrorHandler)
    TALVIRA_LIBXML(xmlTextWriterEndDocument)
    TALVIRA_LIBXML(xmlTextWriterEndElement)
    TALVIRA_LIBXML(xmlTextWriterFlush)
    TALVIRA_LIBXML(xmlTextWriterFullEndElement)
    TALVIRA_LIBXML(xmlTextWriterSetIndent)
    TALVIRA_LIBXML(xmlTextWriterSetIndentString)
    TALVIRA_LIBXML(xmlTextWriterStartDocument)
    TALVIRA_LIBXML(xmlTextWriterStartElement)
    TALVIRA_LIBXML(xmlTextWriterWriteAttribute)
    TALVIRA_LIBXML(xmlTextWriterWriteElement)
    TALVIRA_LIBXML(xmlTextWriterWriteString)
#undef TALVIRA_LIBXML
};

/** The functions, the library loaded at the first call. Thread-safe. */
const LibxmlFunctions& libxml();

}  // namespace talvira::xml
