#pragma once
/**
 * libxml2, loaded when the first XML is written or checked against a schema rather than when the
 * program starts: the functions of it this module uses, called as `libxml().xmlTextWriterFlush(w)`.
 * A missing library is a talvira::Error naming its package, thrown at the first call (and again at
 * every later one).
 */
#include <libxml/parser.h>
#include <libxml/xmlreader.h>
#include <libxml/xmlschemas.h>
#include <libxml/xmlwriter.h>

namespace talvira::xml {

/** Every function of libxml2 this module calls. */
#define TALVIRA_LIBXML_FUNCTIONS(X) \
    X(xmlBufferContent) \
    X(xmlBufferCreate) \
    X(xmlBufferFree) \
    X(xmlBufferLength) \
    X(xmlFreeTextReader) \
    X(xmlFreeTextWriter) \
    X(xmlGetLastError) \
    X(xmlInitParser) \
    X(xmlNewTextWriter) \
    X(xmlNewTextWriterMemory) \
    X(xmlOutputBufferClose) \
    X(xmlOutputBufferCreateIO) \
    X(xmlReaderForMemory) \
    X(xmlResetLastError) \
    X(xmlSchemaFreeParserCtxt) \
    X(xmlSchemaFreeValidCtxt) \
    X(xmlSchemaNewParserCtxt) \
    X(xmlSchemaNewValidCtxt) \
    X(xmlSchemaParse) \
    X(xmlSchemaSetParserStructuredErrors) \
    X(xmlSchemaSetValidStructuredErrors) \
    X(xmlTextReaderIsValid) \
    X(xmlTextReaderRead) \
    X(xmlTextReaderSchemaValidateCtxt) \
    X(xmlTextReaderSetStructuredErrorHandler) \
    X(xmlTextWriterEndDocument) \
    X(xmlTextWriterEndElement) \
    X(xmlTextWriterFlush) \
    X(xmlTextWriterFullEndElement) \
    X(xmlTextWriterSetIndent) \
    X(xmlTextWriterSetIndentString) \
    X(xmlTextWriterStartDocument) \
    X(xmlTextWriterStartElement) \
    X(xmlTextWriterWriteAttribute) \
    X(xmlTextWriterWriteElement) \
    X(xmlTextWriterWriteString)

struct LibxmlFunctions {
#define TALVIRA_LIBXML_POINTER(name) decltype(&::name) name;
    TALVIRA_LIBXML_FUNCTIONS(TALVIRA_LIBXML_POINTER)
#undef TALVIRA_LIBXML_POINTER
    LibxmlFunctions();
};

/** The functions, the library loaded at the first call. Thread-safe. */
const LibxmlFunctions& libxml();

}  // namespace talvira::xml
