'use strict'
// Validates bills of materials against the CycloneDX 1.6 JSON schema that
// the CycloneDX library ships, each licence expression in them as SPDX and
// each package URL as one.
//
//   NODE_PATH=<dir>/node_modules node tools/sbom/validate.js BILL...
//
// tools/setup-deps.sh installs the packages of package-lock.json beside it
// into that directory; tools/check_packages.py runs this. Prints one line
// per bill and exits 1 if any is invalid.
const fs = require('fs')
const CDX = require('@cyclonedx/cyclonedx-library')
const { PackageURL } = require('packageurl-js')

function expressions (bill) {
  const found = []
  const components = [bill.metadata && bill.metadata.component,
    ...(bill.components || [])]
  for (const component of components) {
    for (const choice of (component && component.licenses) || []) {
      if (choice.expression !== undefined) {
        found.push(choice.expression)
      } else if (choice.license && choice.license.id !== undefined) {
        found.push(choice.license.id)
      }
    }
  }
  return found
}

async function main (files) {
  const validator = new CDX.Validation.JsonStrictValidator(CDX.Spec.Version.v1dot6)
  let failed = files.length === 0
  for (const file of files) {
    const text = fs.readFileSync(file, 'utf8')
    const problems = []
    // null when valid; else the schema validator's findings.
    const errors = await validator.validate(text)
    if (errors !== null) {
      problems.push('not valid CycloneDX 1.6: ' + JSON.stringify(errors, null, 1))
    }
    const bill = JSON.parse(text)
    if (bill.specVersion !== '1.6') {
      problems.push(`specVersion ${bill.specVersion}, not 1.6`)
    }
    for (const expression of expressions(bill)) {
      if (!CDX.SPDX.isValidSpdxLicenseExpression(expression)) {
        problems.push(`not an SPDX licence expression: ${expression}`)
      }
    }
    for (const component of bill.components || []) {
      if (component.purl === undefined) continue
      try {
        PackageURL.fromString(component.purl)
      } catch (error) {
        problems.push(`not a package URL: ${component.purl}: ${error.message}`)
      }
    }
    if (problems.length > 0) {
      failed = true
      console.log(`${file}: INVALID\n  ${problems.join('\n  ')}`)
    } else {
      console.log(`${file}: valid CycloneDX 1.6, SPDX licences, package URLs`)
    }
  }
  process.exitCode = failed ? 1 : 0
}

main(process.argv.slice(2)).catch((error) => {
  console.log(`validate.js: ${error.stack || error}`)
  process.exitCode = 1
})
